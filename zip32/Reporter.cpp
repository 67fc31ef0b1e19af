#include "Reporter.h"

#include "Text.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <system_error>

namespace zip32 {

void Reporter::say(const std::string &utf8Line) const {
    if (!m_callbacks.print)
        return;
    const std::string text = codePageFromUtf8(utf8Line) + '\n';
    m_callbacks.print(text.c_str(), static_cast<std::uint32_t>(text.size()));
}

bool Reporter::announce(const std::string &utf8EntryName, std::uint64_t size) {
    if (m_cancelled)
        return false;
    if (m_callbacks.service) {
        const std::string name = codePageFromUtf8(utf8EntryName);
        const auto clamped = static_cast<std::int32_t>(
            std::min<std::uint64_t>(size, static_cast<std::uint64_t>(INT32_MAX)));
        if (m_callbacks.service(name.c_str(), clamped) != 0)
            m_cancelled = true;
    }
    return !m_cancelled && tick();
}

void Reporter::setEntryWeights(std::vector<std::uint64_t> weights) {
    m_weights = std::move(weights);
    m_before.assign(m_weights.size() + 1, 0);
    for (std::size_t i = 0; i < m_weights.size(); ++i)
        m_before[i + 1] = m_before[i] + m_weights[i];
    m_done = 0;
}

void Reporter::reachEntry(std::uint64_t index, double fraction) {
    if (index >= m_weights.size())
        return;
    const double done = static_cast<double>(m_before[index]) +
                        std::clamp(fraction, 0.0, 1.0) * static_cast<double>(m_weights[index]);
    m_done = std::max(m_done, done);
}

void Reporter::reachEntryShare(double share) {
    if (m_weights.empty())
        return;
    const double position = std::clamp(share, 0.0, 1.0) * static_cast<double>(m_weights.size());
    const auto index =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(position), m_weights.size() - 1);
    reachEntry(index, position - static_cast<double>(index));
}

bool Reporter::tick() {
    if (m_cancelled)
        return false;
    const auto now = std::chrono::steady_clock::now();
    if (m_anyProgress && now - m_lastProgress < std::chrono::milliseconds(50))
        return true;
    const double total = m_weights.empty() ? 0.0 : static_cast<double>(m_before.back());
    // 1000 is kept for the end of the run.
    const auto permille =
        total > 0 ? std::min<std::int32_t>(999, static_cast<std::int32_t>(1000 * m_done / total))
                  : 0;
    return sendProgress(permille);
}

bool Reporter::finish() {
    return !m_cancelled && sendProgress(1000);
}

bool Reporter::sendProgress(std::int32_t permille) {
    m_anyProgress = true;
    if (m_callbacks.service && m_callbacks.service(nullptr, permille) != 0)
        m_cancelled = true;
    // Measured after the call, so that a slow host still gets its breathing space.
    m_lastProgress = std::chrono::steady_clock::now();
    return !m_cancelled;
}

std::string causeText(int errorNumber) {
    std::string text = std::generic_category().message(errorNumber);
    if (!text.empty())
        text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
    return text;
}

} // namespace zip32
