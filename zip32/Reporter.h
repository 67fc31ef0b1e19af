#pragma once
// The run's voice towards the host: messages, per-file service calls and progress. Every call
// to a host callback goes through here, and only ever on the thread that called ZpArchive.

#include "zip32.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zip32 {

class Reporter {
public:
    explicit Reporter(const ZipCallbacks &callbacks) : m_callbacks(callbacks) {}

    // One line of text (UTF-8, without its line feed), handed over in Windows-1252.
    void say(const std::string &utf8Line) const;

    // service(name, size) for a file whose data goes into the archive now. False: cancelled.
    bool announce(const std::string &utf8EntryName, std::uint64_t size);

    // What the run has to do, as a weight per archive entry in archive order (file sizes for
    // new data, stored sizes for entries libzip copies).
    void setEntryWeights(std::vector<std::uint64_t> weights);
    // `fraction` (0..1) of entry `index` is done, and every entry before it.
    void reachEntry(std::uint64_t index, double fraction);
    // libzip's own measure: the share of entries written, each counted alike.
    void reachEntryShare(double share);

    // service(NULL, permille) when the last progress call is 50 ms old or more, so the host
    // hears from the run at least every 100 ms. False: cancelled (now or earlier).
    bool tick();
    // The closing progress call with 1000. False: cancelled.
    bool finish();
    bool cancelled() const { return m_cancelled; }

private:
    bool sendProgress(std::int32_t permille);

    const ZipCallbacks &m_callbacks;
    bool m_cancelled = false;
    std::vector<std::uint64_t> m_weights, m_before; // m_before[i]: total weight of entries < i
    double m_done = 0;
    std::chrono::steady_clock::time_point m_lastProgress{};
    bool m_anyProgress = false;
};

// The cause of a failed system call as the end of a sentence: "permission denied".
std::string causeText(int errorNumber);

} // namespace zip32
