#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

// What a running search reports: the scan counts files found (total 0, not
// known), the engines count pictures loaded and then pairs decided.
struct SearchProgress {
    enum class Phase { Scan, Load, Pairs };
    Phase phase = Phase::Scan;
    int64_t done = 0;
    int64_t total = 0;
    int64_t fromCache = 0; // pictures whose signatures came from the signature cache so far
};

using ProgressCallback = std::function<void(const SearchProgress&)>;

// Forwards progress at most every 100 ms, from any thread; the callback is
// never run by two threads at once. Cheap to call per item.
class ProgressThrottle {
public:
    explicit ProgressThrottle(ProgressCallback callback) : m_callback(std::move(callback)) {}

    void report(SearchProgress::Phase phase, int64_t done, int64_t total, bool force = false);

    // Where the count of cache hits is read for each report; may stay unset.
    void countFromCache(const std::atomic<int64_t>* hits) { m_cacheHits = hits; }

private:
    ProgressCallback m_callback;
    std::mutex m_mutex;
    std::atomic<int64_t> m_nextNs {0};
    const std::atomic<int64_t>* m_cacheHits = nullptr;
};
