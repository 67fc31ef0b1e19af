#pragma once
// Compresses the files of a run on worker threads and hands each finished entry to libzip
// while it writes the archive.
//
// Every file becomes a libzip source of our own. Workers read and deflate the files in archive
// order, never more than a fixed amount of memory ahead of the writer. When libzip reaches an
// entry, its source waits for that entry's data and reports it as already compressed, so libzip
// only copies it (and encrypts it where asked). Small files are held whole and deflated in one
// go (libdeflate); an entry is stored when that does not make it smaller. Bigger files are split
// into blocks that all workers deflate at once (libdeflate too), each ended on a byte boundary
// without the final mark (BlockDeflate.h), so that the blocks join into one deflate stream;
// whether such a file is deflated at all is judged from its first blocks. As the method
// is known only once the data (or that sample) is, the source sets the entry's method when
// libzip first asks it for its stat in zip_close, which libzip reads right after. Stored big
// files and every file at level 0 are streamed by the writer as they are. The host's callbacks
// are only called from the source callbacks, that is on the thread in zip_close. A worker looks
// for a stop after each small file and each block of a big one, so a cancelled run ends
// within a fraction of a second.

#include "FileSelection.h"
#include "Reporter.h"

#include <zip.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct libdeflate_compressor;

namespace zip32 {

// A buffer of `capacity` bytes, the first `size` of them in use; not zero-filled.
struct Bytes {
    std::unique_ptr<unsigned char[]> data;
    std::size_t size = 0, capacity = 0;
};

enum class Action { Add, Update, Freshen };

// Why the run failed in a source of ours: a ZE_ code and a whole sentence (UTF-8).
struct PackFailure {
    int code = ZE_OK;
    std::string message;
};

class Packer {
public:
    // level 1..9 deflates where it helps, 0 stores. threads: the most workers, 0 for one per
    // core; never more than six, as beyond that the single writer is the limit.
    Packer(Reporter &reporter, int level, int threads);
    ~Packer(); // stops and joins the workers
    Packer(const Packer &) = delete;
    Packer &operator=(const Packer &) = delete;

    // A source for `file`, to be handed to zip_file_add or zip_file_replace (which take it over;
    // zip_source_free it when they fail). `entryTime` is the time the entry gets: the source
    // reports it too, as traditional encryption derives a check byte from it.
    zip_source_t *add(const FoundFile &file, Action action, std::time_t entryTime,
                      zip_error_t *error);
    // A source for entry `index` of `archive` that hands libzip the entry's data as it is
    // stored, so that libzip only adds encryption (a kept entry that gets this run's
    // password), with progress while it does. For zip_file_replace of that entry, like add.
    zip_source_t *carry(zip_t *archive, zip_uint64_t index, const std::string &name,
                        zip_error_t *error);
    // The archive index libzip gave the source made last.
    void placeLast(zip_uint64_t index);

    // Starts the workers; call right before zip_close of `archive`, which holds every source
    // made here. The archive must be closed or discarded before the packer goes.
    void start(zip_t *archive);
    // Set when a source of ours made zip_close fail; code ZE_OK otherwise.
    const PackFailure &failure() const { return m_failure; }

    struct Entry;

private:
    static zip_int64_t sourceCallback(void *userdata, void *data, zip_uint64_t length,
                                      zip_source_cmd_t command);
    zip_int64_t serve(Entry &entry, void *data, zip_uint64_t length, zip_source_cmd_t command);
    zip_int64_t serveStat(Entry &entry, void *data, zip_uint64_t length);
    zip_int64_t serveOpen(Entry &entry);
    zip_int64_t serveCarried(Entry &entry, void *data, zip_uint64_t length,
                             zip_source_cmd_t command);
    bool decide(Entry &entry);
    zip_int64_t read(Entry &entry, unsigned char *data, zip_uint64_t length);
    zip_int64_t readBlocks(Entry &entry, unsigned char *data, std::size_t length);
    bool openStream(Entry &entry);
    void close(Entry &entry);
    void release(Entry &entry);
    bool fail(Entry &entry, int libzipError, int code, std::string message);
    void work();
    bool claimable() const;
    int hold(Entry &entry, std::FILE *file, libdeflate_compressor *compressor);
    struct Block;
    void deflateNextBlock(Entry &entry, std::uint64_t claimed, libdeflate_compressor *compressor);
    // The next block of a big file read into `input`, or null when no block is left to read.
    Block *readNextBlock(Entry &entry, std::uint64_t claimed, Bytes &input, int &error);
    void settleBlock(Entry &entry, Block &block, Bytes packed, int error);
    int compressBlock(libdeflate_compressor *compressor, const Bytes &input, bool last,
                      Bytes &packed);
    bool judge(Entry &entry); // true when it has just found the entry is to be stored
    void skipPast(Entry &entry);
    std::uint64_t cost(const Entry &entry) const;
    // Buffers go back to a small pool and are used again, rather than freed and allocated for
    // every file: the memory of a run then stays within its budget whatever the number of
    // workers, instead of spreading over the allocator's per-thread pools.
    Bytes takeBuffer(std::size_t size);
    void giveBack(Bytes &bytes);
    void giveBackLocked(Bytes &bytes); // with m_mutex held
    void dropLargestSpare();

    zip_t *m_archive = nullptr;
    Reporter &m_reporter;
    int m_level;
    int m_threads;
    std::vector<std::unique_ptr<Entry>> m_entries; // in the order they were added
    PackFailure m_failure;
    bool m_writing = false;

    // Shared with the workers.
    std::mutex m_mutex;
    std::condition_variable m_workWanted; // a worker may claim the next entry
    std::condition_variable m_entryDone;  // the writer may find its entry ready
    std::vector<Entry *> m_queue;         // entries a worker must read, in archive order
    std::size_t m_next = 0;               // first entry of m_queue not yet claimed
    std::uint64_t m_heldBytes = 0;        // memory held by claimed, unwritten entries
    std::uint64_t m_budget = 0;           // the most m_heldBytes may grow to
    std::vector<Bytes> m_spare;           // buffers to use again
    std::uint64_t m_spareBytes = 0;
    std::atomic<bool> m_stop = false; // also read by workers amid a block, without the lock
    std::vector<std::thread> m_workers;
};

} // namespace zip32
