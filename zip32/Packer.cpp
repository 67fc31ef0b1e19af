#include "Packer.h"

#include "BlockDeflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <utility>

namespace zip32 {
namespace {

// Memory the workers may hold ahead of the writer (read files and their deflated forms): the
// more there is, the less a writer that is slow to get the processor holds the workers up.
// Every worker costs memory of its own, so with more workers the budget shrinks, and the run
// stays within bounds whatever the number of cores. A single entry may exceed the budget only
// while nothing else is held.
constexpr std::uint64_t MostMemory = 16u << 20;
constexpr std::uint64_t LeastMemory = 6u << 20;
constexpr std::uint64_t MemoryPerWorker = 2u << 20;
// Bigger files are never held whole: the workers deflate them in blocks of this many bytes.
constexpr std::uint64_t LargestHeldFile = 4u << 20;
constexpr std::size_t SplitBlock = 512u << 10;
// Whether a big file is deflated at all is judged from its first blocks.
constexpr std::uint64_t SampleBlocks = 4;
// Buffers are sized in steps, so that they fit more files when used again.
constexpr std::size_t BufferStep = 64u << 10;
// Room counted for a deflated block: above libdeflate's bound for data that does not shrink.
constexpr std::size_t PackedBlockRoom = SplitBlock + SplitBlock / 64 + 64;
// Memory a worker holds while it deflates a block: the block and its output.
constexpr std::uint64_t BlockCost = SplitBlock + PackedBlockRoom + 2 * BufferStep;
// The sample must fit the smallest budget, or the writer would wait for it forever.
static_assert(SampleBlocks * BlockCost <= LeastMemory);
// zip32.h tells callers these sizes.
static_assert(LargestHeldFile == 4u << 20 && SampleBlocks * SplitBlock == 2u << 20);
// Past this many workers the single writer is the limit, and each worker costs memory.
constexpr int MostWorkers = 6;

struct CompressorFree {
    void operator()(libdeflate_compressor *compressor) const {
        libdeflate_free_compressor(compressor);
    }
};

int errorOf(std::FILE *file) {
    return std::ferror(file) ? (errno ? errno : EIO) : 0;
}

const char *verbOf(Action action) {
    switch (action) {
    case Action::Update:
        return "Updated ";
    case Action::Freshen:
        return "Freshened ";
    default:
        return "Added ";
    }
}

} // namespace

// One block of a big file, deflated by a worker.
struct Packer::Block {
    Bytes packed;
    std::uint64_t number = 0, size = 0; // its place in the file; raw bytes
    std::uint32_t crc = 0;
    std::uint64_t heldBytes = 0; // memory of the budget it holds
    bool last = false, done = false, failed = false;
};

struct Packer::Entry {
    Packer *packer = nullptr;
    FoundFile file;
    Action action = Action::Add;
    std::time_t time = 0;
    zip_uint64_t index = 0;
    bool held = false;  // read and deflated whole by a worker
    bool split = false; // deflated in blocks by the workers, or else streamed by the writer
    zip_source_t *carried = nullptr; // kept entries: their data in the earlier archive
    zip_error_t error;

    // Written by a worker before it sets `ready`, read by the writer after it saw `ready`.
    bool ready = false;
    std::string failure; // the cause, when the file could not be read
    int failureErrno = 0;
    Bytes bytes; // held entries: the stored or deflated data
    bool deflate = false;
    std::uint32_t crc = 0;
    bool crcKnown = false;
    std::uint64_t size = 0, packedSize = 0;
    std::uint64_t heldBytes = 0; // memory of the budget this entry holds

    // Split entries. Workers read the blocks in turn under readMutex, so that the blocks are
    // the file's data in order, whatever happens to the file meanwhile.
    std::mutex readMutex;
    FilePtr source;           // under readMutex
    bool over = false;        // under m_mutex: every block is claimed, or none is wanted any more
    std::deque<Block> blocks; // under m_mutex: read and not yet written, in file order
    std::uint64_t blocksRead = 0;                                // under m_mutex
    std::uint64_t sampled = 0, sampleSize = 0, samplePacked = 0; // under m_mutex

    // The writer's side.
    bool announced = false, decided = false, complete = false;
    std::uint64_t offset = 0, consumed = 0;
    FilePtr stream;
    std::uint32_t streamCrc = 0;
    std::size_t blockOffset = 0; // of the first block, handed over
    bool blocksOpened = false, lastHandedOver = false;

    Entry() { zip_error_init(&error); }
    ~Entry() {
        if (carried)
            zip_source_free(carried);
        zip_error_fini(&error);
    }
};

Packer::Packer(Reporter &reporter, int level, int threads)
    : m_reporter(reporter), m_level(level), m_threads(threads) {}

Packer::~Packer() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_workWanted.notify_all();
    for (std::thread &worker : m_workers)
        worker.join();
}

zip_source_t *Packer::add(const FoundFile &file, Action action, std::time_t entryTime,
                          zip_error_t *error) {
    auto entry = std::make_unique<Entry>();
    entry->packer = this;
    entry->file = file;
    entry->action = action;
    entry->time = entryTime;
    entry->size = file.size;
    entry->packedSize = file.size;
    entry->held = m_level > 0 && file.size <= LargestHeldFile;
    entry->split = m_level > 0 && !entry->held;
    // At level 0 there is nothing to deflate: the writer streams the file as it is.
    entry->ready = m_level == 0;
    zip_source_t *source = zip_source_function_create(&Packer::sourceCallback, entry.get(), error);
    if (source)
        m_entries.push_back(std::move(entry));
    return source;
}

zip_source_t *Packer::carry(zip_t *archive, zip_uint64_t index, const std::string &name,
                            zip_error_t *error) {
    auto entry = std::make_unique<Entry>();
    entry->packer = this;
    entry->file.entryName = name;
    entry->index = index;
    entry->ready = entry->decided = entry->announced = true;
    entry->carried =
        zip_source_zip(archive, archive, index, ZIP_FL_UNCHANGED | ZIP_FL_COMPRESSED, 0, -1);
    if (!entry->carried) {
        zip_error_set(error, zip_error_code_zip(zip_get_error(archive)), 0);
        return nullptr;
    }
    zip_source_t *source = zip_source_function_create(&Packer::sourceCallback, entry.get(), error);
    if (source)
        m_entries.push_back(std::move(entry));
    return source;
}

void Packer::placeLast(zip_uint64_t index) {
    if (!m_entries.empty())
        m_entries.back()->index = index;
}

void Packer::start(zip_t *archive) {
    m_archive = archive;
    std::vector<Entry *> order;
    for (const auto &entry : m_entries)
        order.push_back(entry.get());
    // libzip writes entries in index order; workers follow it, so the writer never waits for
    // an entry that no worker has started while memory is held for later ones.
    std::sort(order.begin(), order.end(),
              [](const Entry *a, const Entry *b) { return a->index < b->index; });
    std::size_t work = 0;
    {
        std::lock_guard lock(m_mutex);
        m_writing = true;
        for (Entry *entry : order) {
            if (entry->ready)
                continue;
            m_queue.push_back(entry);
            // A big file is work for as many workers as it has blocks.
            work += entry->split ? entry->file.size / SplitBlock + 1 : 1;
        }
    }
    int count = m_threads > 0 ? m_threads : static_cast<int>(std::thread::hardware_concurrency());
    count = std::clamp(count, 1, MostWorkers);
    count = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(count), work));
    m_budget =
        std::max(LeastMemory, MostMemory - MemoryPerWorker * static_cast<std::uint64_t>(count));
    for (int i = 0; i < count; ++i)
        m_workers.emplace_back(&Packer::work, this);
}

std::uint64_t Packer::cost(const Entry &entry) const {
    // The file and a deflate buffer of about the same size.
    return entry.held ? 2 * entry.file.size + 2 * BufferStep : BlockCost;
}

Bytes Packer::takeBuffer(std::size_t size) {
    const std::size_t capacity = (size / BufferStep + 1) * BufferStep;
    std::unique_lock lock(m_mutex);
    auto best = m_spare.end();
    for (auto it = m_spare.begin(); it != m_spare.end(); ++it) {
        if (it->capacity >= size && (best == m_spare.end() || it->capacity < best->capacity))
            best = it;
    }
    if (best != m_spare.end()) {
        Bytes bytes = std::move(*best);
        m_spare.erase(best);
        m_spareBytes -= bytes.capacity;
        bytes.size = 0;
        return bytes;
    }
    // Spare buffers that fit nothing make room, so that the run stays within its budget.
    while (!m_spare.empty() && m_spareBytes + m_heldBytes + capacity > m_budget)
        dropLargestSpare();
    lock.unlock();
    Bytes bytes;
    bytes.data.reset(new unsigned char[capacity]);
    bytes.capacity = capacity;
    return bytes;
}

void Packer::giveBack(Bytes &bytes) {
    if (!bytes.data)
        return;
    std::lock_guard lock(m_mutex);
    giveBackLocked(bytes);
}

void Packer::giveBackLocked(Bytes &bytes) {
    if (!bytes.data)
        return;
    m_spareBytes += bytes.capacity;
    m_spare.push_back(std::move(bytes));
    bytes = Bytes{};
    while (m_spareBytes > m_budget / 8)
        dropLargestSpare();
}

void Packer::dropLargestSpare() {
    const auto largest =
        std::max_element(m_spare.begin(), m_spare.end(),
                         [](const Bytes &a, const Bytes &b) { return a.capacity < b.capacity; });
    m_spareBytes -= largest->capacity;
    m_spare.erase(largest);
}

bool Packer::claimable() const {
    if (m_next >= m_queue.size())
        return false;
    return m_heldBytes == 0 || m_heldBytes + cost(*m_queue[m_next]) <= m_budget;
}

void Packer::work() {
    std::unique_ptr<libdeflate_compressor, CompressorFree> compressor;
    auto deflater = [&] { // made when first needed: null when there is no memory for it
        if (!compressor)
            compressor.reset(libdeflate_alloc_compressor(m_level));
        return compressor.get();
    };
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_workWanted.wait(lock, [this] { return m_stop || claimable(); });
        if (m_stop)
            return;
        Entry &entry = *m_queue[m_next];
        const std::uint64_t claimed = cost(entry);
        m_heldBytes += claimed;
        if (entry.split) {
            // Every worker may take a block of it; the last block read moves the queue on.
            lock.unlock();
            deflateNextBlock(entry, claimed, deflater());
            lock.lock();
            continue;
        }
        ++m_next;
        entry.heldBytes = claimed;
        lock.unlock();

        int error = 0;
        if (FilePtr file = openFile(entry.file.path); !file) {
            error = errno ? errno : EIO;
        } else {
            libdeflate_compressor *held = deflater();
            error = held ? hold(entry, file.get(), held) : ENOMEM;
        }

        lock.lock();
        m_heldBytes -= entry.heldBytes;
        entry.heldBytes = entry.bytes.capacity;
        m_heldBytes += entry.heldBytes;
        if (error) {
            entry.failureErrno = error;
            entry.failure = causeText(error);
        }
        entry.ready = true;
        m_entryDone.notify_all();
        m_workWanted.notify_all();
    }
}

int Packer::hold(Entry &entry, std::FILE *file, libdeflate_compressor *compressor) {
    // The whole file, which may have grown since it was listed.
    Bytes raw = takeBuffer(static_cast<std::size_t>(entry.file.size) + 1);
    for (;;) {
        raw.size += std::fread(raw.data.get() + raw.size, 1, raw.capacity - raw.size, file);
        if (raw.size > LargestHeldFile) {
            // Grown past what is ever held whole: reading on could take all memory.
            giveBack(raw);
            return EFBIG;
        }
        if (raw.size < raw.capacity)
            break;
        Bytes bigger = takeBuffer(raw.capacity * 2);
        std::memcpy(bigger.data.get(), raw.data.get(), raw.size);
        bigger.size = raw.size;
        giveBack(raw);
        raw = std::move(bigger);
    }
    if (std::ferror(file)) {
        giveBack(raw);
        return errno ? errno : EIO;
    }
    entry.size = raw.size;
    entry.crc = static_cast<std::uint32_t>(libdeflate_crc32(0, raw.data.get(), raw.size));
    entry.crcKnown = true;
    Bytes packed;
    if (raw.size > 0) {
        const std::size_t bound = libdeflate_deflate_compress_bound(compressor, raw.size);
        packed = takeBuffer(bound);
        packed.size = libdeflate_deflate_compress(compressor, raw.data.get(), raw.size,
                                                  packed.data.get(), packed.capacity);
    }
    // Keep the smaller: deflated only when that saves at least a byte.
    entry.deflate = packed.size > 0 && packed.size < raw.size;
    entry.bytes = entry.deflate ? std::move(packed) : std::move(raw);
    giveBack(entry.deflate ? raw : packed);
    entry.packedSize = entry.bytes.size;
    return 0;
}

void Packer::deflateNextBlock(Entry &entry, std::uint64_t claimed,
                              libdeflate_compressor *compressor) {
    Bytes input = takeBuffer(SplitBlock);
    int error = 0;
    Block *block = readNextBlock(entry, claimed, input, error);
    if (!block)
        return;
    Bytes packed;
    if (!error) {
        block->crc = static_cast<std::uint32_t>(
            libdeflate_crc32(0, input.data.get(), static_cast<std::size_t>(block->size)));
        error = compressBlock(compressor, input, block->last, packed);
    }
    giveBack(input);
    if (packed.size + BufferStep < packed.capacity) {
        // Held until the writer takes it: no bigger than it needs to be.
        Bytes fitting = takeBuffer(packed.size);
        std::memcpy(fitting.data.get(), packed.data.get(), packed.size);
        fitting.size = packed.size;
        giveBack(packed);
        packed = std::move(fitting);
    }
    settleBlock(entry, *block, std::move(packed), error);
}

Packer::Block *Packer::readNextBlock(Entry &entry, std::uint64_t claimed, Bytes &input,
                                     int &error) {
    std::lock_guard readLock(entry.readMutex);
    std::unique_lock lock(m_mutex);
    if (entry.over) {
        // Another worker read the last block, or the file is stored: nothing left to do.
        m_heldBytes -= claimed;
        giveBackLocked(input);
        m_workWanted.notify_all();
        lock.unlock();
        entry.source.reset();
        return nullptr;
    }
    lock.unlock();
    if (!entry.source && !(entry.source = openFile(entry.file.path)))
        error = errno ? errno : EIO;
    if (!error) {
        input.size = std::fread(input.data.get(), 1, SplitBlock, entry.source.get());
        error = errorOf(entry.source.get());
    }
    const bool last = error || input.size < SplitBlock;
    if (last)
        entry.source.reset();

    lock.lock();
    Block &block = entry.blocks.emplace_back();
    block.number = entry.blocksRead++;
    block.size = input.size;
    block.last = last;
    block.heldBytes = claimed;
    if (last)
        skipPast(entry);
    return &block;
}

void Packer::settleBlock(Entry &entry, Block &block, Bytes packed, int error) {
    std::unique_lock lock(m_mutex);
    m_heldBytes -= block.heldBytes;
    block.heldBytes = 0;
    block.done = true;
    bool stored = false;
    if (entry.ready && !entry.deflate) {
        giveBackLocked(packed); // stored after all: the writer reads the file itself
    } else if (error) {
        block.failed = true;
        giveBackLocked(packed);
        if (error != ECANCELED && entry.failure.empty()) {
            entry.failureErrno = error;
            entry.failure = causeText(error);
            entry.ready = true;
        }
    } else {
        block.packed = std::move(packed);
        block.heldBytes = block.packed.capacity;
        m_heldBytes += block.heldBytes;
        if (block.number < SampleBlocks) {
            ++entry.sampled;
            entry.sampleSize += block.size;
            entry.samplePacked += block.packed.size;
        }
        stored = judge(entry);
    }
    m_entryDone.notify_all();
    m_workWanted.notify_all();
    lock.unlock();
    if (stored) {
        // No block is read any more: the file is let go now, not when the run ends, so that a
        // run of many such files keeps few open.
        std::lock_guard readLock(entry.readMutex);
        entry.source.reset();
    }
}

int Packer::compressBlock(libdeflate_compressor *compressor, const Bytes &input, bool last,
                          Bytes &packed) {
    if (!compressor)
        return ENOMEM;
    if (m_stop)
        return ECANCELED;
    packed = takeBuffer(deflateBlockBound(compressor, input.size));
    packed.size = deflateBlock(compressor, input.data.get(), input.size, last, packed.data.get(),
                               packed.capacity);
    return packed.size > 0 ? 0 : EINVAL;
}

bool Packer::judge(Entry &entry) {
    // With m_mutex held, after a block of the sample was deflated.
    if (entry.ready ||
        entry.sampled < std::min(SampleBlocks, entry.over ? entry.blocksRead : SampleBlocks))
        return false;
    entry.deflate = entry.samplePacked < entry.sampleSize;
    entry.ready = true;
    if (entry.deflate)
        return false;
    // Stored: the workers go on with the next files, and what they deflated goes.
    skipPast(entry);
    for (Block &block : entry.blocks) {
        m_heldBytes -= block.heldBytes;
        block.heldBytes = 0;
        giveBackLocked(block.packed);
    }
    return true;
}

void Packer::skipPast(Entry &entry) {
    // With m_mutex held.
    entry.over = true;
    if (m_next < m_queue.size() && m_queue[m_next] == &entry)
        ++m_next;
    m_workWanted.notify_all();
}

zip_int64_t Packer::sourceCallback(void *userdata, void *data, zip_uint64_t length,
                                   zip_source_cmd_t command) {
    auto *entry = static_cast<Entry *>(userdata);
    return entry->packer->serve(*entry, data, length, command);
}

zip_int64_t Packer::serve(Entry &entry, void *data, zip_uint64_t length, zip_source_cmd_t command) {
    if (entry.carried)
        return serveCarried(entry, data, length, command);
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    case ZIP_SOURCE_STAT:
        return serveStat(entry, data, length);
    case ZIP_SOURCE_OPEN:
        return serveOpen(entry);
    case ZIP_SOURCE_READ:
        return read(entry, static_cast<unsigned char *>(data), length);
    case ZIP_SOURCE_CLOSE:
        close(entry);
        return 0;
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&entry.error, data, length);
    case ZIP_SOURCE_FREE:
        return 0;
    default:
        zip_error_set(&entry.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

zip_int64_t Packer::serveStat(Entry &entry, void *data, zip_uint64_t length) {
    if (length < sizeof(zip_stat_t)) {
        zip_error_set(&entry.error, ZIP_ER_INVAL, 0);
        return -1;
    }
    // libzip asks first when it reaches the entry in zip_close, before it reads the
    // entry's compression method: the moment to settle it.
    if (m_writing && !entry.decided && !decide(entry))
        return -1;
    auto *stat = static_cast<zip_stat_t *>(data);
    zip_stat_init(stat);
    stat->valid |= ZIP_STAT_MTIME | ZIP_STAT_SIZE;
    stat->mtime = entry.time;
    stat->size = entry.decided ? entry.size : entry.file.size;
    if (entry.decided) {
        stat->valid |= ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        // Unknown for blocks still to come: libzip then plans the entry's header for the
        // most deflate may make of it, rather than for a size it could grow past.
        if (!(entry.split && entry.deflate) || entry.complete) {
            stat->valid |= ZIP_STAT_COMP_SIZE;
            stat->comp_size = entry.packedSize;
        }
        stat->comp_method = entry.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE;
        stat->encryption_method = ZIP_EM_NONE;
        if (entry.crcKnown) {
            stat->valid |= ZIP_STAT_CRC;
            stat->crc = entry.crc;
        }
    }
    return sizeof(zip_stat_t);
}

zip_int64_t Packer::serveOpen(Entry &entry) {
    if (!entry.decided && !decide(entry))
        return -1;
    entry.offset = entry.consumed = 0;
    entry.streamCrc = 0;
    entry.complete = false;
    if (entry.split && entry.deflate) {
        // Its blocks go as they are handed over: there is no second pass.
        if (entry.blocksOpened)
            return fail(entry, ZIP_ER_INTERNAL, ZE_LOGIC,
                        "Could not deflate " + entry.file.relative + " a second time.")
                       ? 0
                       : -1;
        entry.blocksOpened = true;
        return 0;
    }
    return (entry.held || openStream(entry)) ? 0 : -1;
}

zip_int64_t Packer::serveCarried(Entry &entry, void *data, zip_uint64_t length,
                                 zip_source_cmd_t command) {
    zip_source_t *inner = entry.carried;
    switch (command) {
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE,
                                              ZIP_SOURCE_STAT, ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE,
                                              -1);
    case ZIP_SOURCE_STAT: {
        if (length < sizeof(zip_stat_t)) {
            zip_error_set(&entry.error, ZIP_ER_INVAL, 0);
            return -1;
        }
        auto *stat = static_cast<zip_stat_t *>(data);
        if (zip_source_stat(inner, stat) != 0)
            return -1;
        entry.size = stat->comp_size;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_OPEN:
        entry.offset = 0;
        entry.complete = false;
        return zip_source_open(inner);
    case ZIP_SOURCE_READ: {
        if (!m_reporter.tick()) {
            fail(entry, ZIP_ER_CANCELLED, ZE_ABORT, {});
            return -1;
        }
        const zip_int64_t got = zip_source_read(inner, data, length);
        if (got == 0)
            entry.complete = true;
        if (got > 0)
            entry.offset += static_cast<std::uint64_t>(got);
        const double total = static_cast<double>(std::max<std::uint64_t>(entry.size, 1));
        m_reporter.reachEntry(entry.index, static_cast<double>(entry.offset) / total);
        return got;
    }
    case ZIP_SOURCE_CLOSE:
        if (entry.complete)
            m_reporter.say("Encrypted " + entry.file.entryName +
                           ", kept from the earlier archive.");
        return zip_source_close(inner);
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(
            zip_error_code_zip(&entry.error) != ZIP_ER_OK ? &entry.error : zip_source_error(inner),
            data, length);
    case ZIP_SOURCE_FREE:
        // Now, while the archive it reads from is still there.
        zip_source_free(inner);
        entry.carried = nullptr;
        return 0;
    default:
        zip_error_set(&entry.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

bool Packer::fail(Entry &entry, int libzipError, int code, std::string message) {
    zip_error_set(&entry.error, libzipError, 0);
    if (m_failure.code == ZE_OK)
        m_failure = {code, std::move(message)};
    return false;
}

bool Packer::decide(Entry &entry) {
    if (!entry.announced) {
        entry.announced = true;
        if (!m_reporter.announce(entry.file.entryName, entry.file.size))
            fail(entry, ZIP_ER_CANCELLED, ZE_ABORT, {});
    }
    m_reporter.reachEntry(entry.index, 0);
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_entryDone.wait_for(lock, std::chrono::milliseconds(20),
                                     [&entry] { return entry.ready; }))
                break;
        }
        if (!m_reporter.tick())
            return fail(entry, ZIP_ER_CANCELLED, ZE_ABORT, {});
    }
    if (!entry.failure.empty())
        return fail(entry, ZIP_ER_READ, entry.failureErrno == ENOMEM ? ZE_MEM : ZE_READ,
                    "Could not read " + entry.file.relative + ": " + entry.failure + ".");
    // The method is set now, when the data is known: libzip reads it right after this call.
    if (zip_set_file_compression(m_archive, entry.index,
                                 entry.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0) != 0)
        return fail(entry, ZIP_ER_INTERNAL, ZE_LOGIC,
                    "Could not set the compression of " + entry.file.entryName + ".");
    entry.decided = true;
    return true;
}

bool Packer::openStream(Entry &entry) {
    entry.stream = openFile(entry.file.path);
    if (!entry.stream)
        return fail(entry, ZIP_ER_OPEN, ZE_READ,
                    "Could not read " + entry.file.relative + ": " +
                        causeText(errno ? errno : EIO) + ".");
    return true;
}

zip_int64_t Packer::read(Entry &entry, unsigned char *data, zip_uint64_t length) {
    if (!m_reporter.tick()) {
        fail(entry, ZIP_ER_CANCELLED, ZE_ABORT, {});
        return -1;
    }
    std::size_t produced = 0;
    const auto wanted = static_cast<std::size_t>(std::min<zip_uint64_t>(length, SIZE_MAX));
    if (entry.held) {
        produced = static_cast<std::size_t>(
            std::min<std::uint64_t>(wanted, entry.bytes.size - entry.offset));
        std::memcpy(data, entry.bytes.data.get() + entry.offset, produced);
        entry.consumed += produced;
    } else if (entry.split && entry.deflate) {
        const zip_int64_t got = readBlocks(entry, data, wanted);
        if (got < 0)
            return -1;
        produced = static_cast<std::size_t>(got);
    } else {
        // Stored as it is: libzip computes the checksum of stored data itself.
        produced = std::fread(data, 1, wanted, entry.stream.get());
        entry.consumed += produced;
        if (const int error = errorOf(entry.stream.get())) {
            fail(entry, ZIP_ER_READ, ZE_READ,
                 "Could not read " + entry.file.relative + ": " + causeText(error) + ".");
            return -1;
        }
    }
    entry.offset += produced;
    if (produced == 0) {
        entry.complete = true;
        if (!entry.held) {
            // What was read is what counts, should the file have changed since it was listed.
            entry.size = entry.consumed;
            entry.packedSize = entry.offset;
            entry.crc = entry.streamCrc;
            entry.crcKnown = entry.deflate;
        }
    }
    // Held entries count what they handed over, streamed ones what they read.
    const auto [done, total] = entry.held ? std::pair(entry.offset, entry.packedSize)
                                          : std::pair(entry.consumed, entry.file.size);
    m_reporter.reachEntry(entry.index, static_cast<double>(done) /
                                           static_cast<double>(std::max<std::uint64_t>(total, 1)));
    return static_cast<zip_int64_t>(produced);
}

zip_int64_t Packer::readBlocks(Entry &entry, unsigned char *data, std::size_t length) {
    std::size_t produced = 0;
    std::unique_lock lock(m_mutex);
    while (produced < length && !entry.lastHandedOver) {
        if (entry.blocks.empty() || !entry.blocks.front().done) {
            if (produced > 0)
                break; // hand over what there is, and wait on the next call
            if (!m_entryDone.wait_for(lock, std::chrono::milliseconds(20), [&entry] {
                    return !entry.blocks.empty() && entry.blocks.front().done;
                })) {
                lock.unlock();
                if (!m_reporter.tick()) {
                    fail(entry, ZIP_ER_CANCELLED, ZE_ABORT, {});
                    return -1;
                }
                lock.lock();
            }
            continue;
        }
        Block &block = entry.blocks.front();
        if (block.failed) {
            lock.unlock();
            fail(entry, ZIP_ER_READ, entry.failureErrno == ENOMEM ? ZE_MEM : ZE_READ,
                 "Could not read " + entry.file.relative + ": " + entry.failure + ".");
            return -1;
        }
        const std::size_t count =
            std::min(length - produced, block.packed.size - entry.blockOffset);
        std::memcpy(data + produced, block.packed.data.get() + entry.blockOffset, count);
        produced += count;
        entry.blockOffset += count;
        if (entry.blockOffset < block.packed.size)
            continue;
        // The whole block is handed over: its checksum joins the file's.
        entry.streamCrc = static_cast<std::uint32_t>(
            crc32_combine(entry.streamCrc, block.crc, static_cast<z_off_t>(block.size)));
        entry.consumed += block.size;
        entry.lastHandedOver = block.last;
        m_heldBytes -= block.heldBytes;
        giveBackLocked(block.packed);
        entry.blocks.pop_front();
        entry.blockOffset = 0;
        m_workWanted.notify_all();
    }
    return static_cast<zip_int64_t>(produced);
}

void Packer::close(Entry &entry) {
    if (entry.complete) {
        const long long ratio = entry.size == 0
                                    ? 0
                                    : std::llround(100.0 *
                                                   (static_cast<double>(entry.size) -
                                                    static_cast<double>(entry.packedSize)) /
                                                   static_cast<double>(entry.size));
        m_reporter.say(verbOf(entry.action) + entry.file.entryName + " (" +
                       (entry.deflate ? "deflated " : "stored ") + std::to_string(ratio) + "%).");
    }
    release(entry);
}

void Packer::release(Entry &entry) {
    entry.stream.reset();
    if (!entry.complete)
        return; // libzip may open it again
    std::lock_guard lock(m_mutex);
    giveBackLocked(entry.bytes);
    m_heldBytes -= entry.heldBytes;
    entry.heldBytes = 0;
    for (Block &block : entry.blocks) { // a stored big file's, deflated before it was judged
        m_heldBytes -= block.heldBytes;
        block.heldBytes = 0;
        giveBackLocked(block.packed);
    }
    m_workWanted.notify_all();
}

} // namespace zip32
