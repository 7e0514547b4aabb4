#include "common/parallel_for.h"

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>

#include "common/worker_pool.h"

int32_t resolveJobs(int32_t jobs)
{
    if (jobs > 0)
        return jobs;
    return static_cast<int32_t>(std::max(1u, std::thread::hardware_concurrency()));
}

void parallelFor(int64_t count, int32_t jobs, const std::function<void(int64_t, int32_t)>& body, WorkerPool* pool)
{
    if (count <= 0)
        return;
    jobs = static_cast<int32_t>(std::min<int64_t>(resolveJobs(jobs), count));
    if (jobs <= 1) {
        for (int64_t i = 0; i < count; ++i)
            body(i, 0);
        return;
    }
    std::atomic<int64_t> next {0};
    const auto worker = [&](int32_t id) {
        if (id >= jobs)
            return;
        for (int64_t i = next.fetch_add(1); i < count; i = next.fetch_add(1))
            body(i, id);
    };
    std::optional<WorkerPool> own;
    (pool != nullptr ? *pool : own.emplace(jobs)).run(worker);
}
