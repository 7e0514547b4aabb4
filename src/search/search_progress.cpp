#include "search/search_progress.h"

namespace {
constexpr int64_t kIntervalNs = 100'000'000;
}

void ProgressThrottle::report(SearchProgress::Phase phase, int64_t done, int64_t total, bool force)
{
    if (!m_callback)
        return;
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (!force && now < m_nextNs.load(std::memory_order_relaxed))
        return;
    std::unique_lock lock(m_mutex, std::try_to_lock);
    if (!lock.owns_lock() && !force)
        return;
    if (!lock.owns_lock())
        lock.lock();
    m_nextNs.store(now + kIntervalNs, std::memory_order_relaxed);
    m_callback(SearchProgress {phase, done, total, m_cacheHits ? m_cacheHits->load(std::memory_order_relaxed) : 0});
}
