#include "common/worker_pool.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "common/parallel_for.h"

TEST(WorkerPoolTest, EveryTaskRunsOnceOnEachOfTheSameThreads)
{
    WorkerPool pool(3);
    EXPECT_EQ(pool.size(), 3);
    std::mutex mutex;
    std::set<std::thread::id> firstThreads;
    for (int task = 0; task < 20; ++task) {
        std::atomic<int32_t> calls {0};
        std::atomic<int32_t> workerMask {0};
        std::set<std::thread::id> threads;
        pool.start([&](int32_t worker) {
            ++calls;
            workerMask |= 1 << worker;
            std::lock_guard lock(mutex);
            threads.insert(std::this_thread::get_id());
        });
        pool.wait();
        EXPECT_EQ(calls, 3);
        EXPECT_EQ(workerMask, 0b111);
        EXPECT_EQ(threads.size(), 3u);
        EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
        // The threads live as long as the pool, not one task.
        if (task == 0)
            firstThreads = threads;
        EXPECT_EQ(threads, firstThreads) << "task " << task;
    }
}

TEST(WorkerPoolTest, TheCallerWorksWhileTheTaskRunsAndAPoolNeverStartedEndsCleanly)
{
    {
        WorkerPool unused(4);
    }
    WorkerPool pool(2);
    std::atomic<bool> released {false};
    std::atomic<int32_t> done {0};
    pool.start([&](int32_t) {
        while (!released.load())
            std::this_thread::yield();
        ++done;
    });
    // start() has returned although the workers are waiting for the caller.
    EXPECT_EQ(done, 0);
    released = true;
    pool.wait();
    EXPECT_EQ(done, 2);
}

// The search hands its pool to every parallel step: the step must run on
// those threads (not new ones, not the caller's), visit each index once, and
// keep its worker numbers below the job count it sized its buffers by.
TEST(WorkerPoolTest, ParallelForRunsOnTheGivenPoolWithinItsJobCount)
{
    WorkerPool pool(3);
    std::mutex mutex;
    std::set<std::thread::id> poolThreads;
    pool.run([&](int32_t) {
        std::lock_guard lock(mutex);
        poolThreads.insert(std::this_thread::get_id());
    });
    ASSERT_EQ(poolThreads.size(), 3u);

    struct Case {
        int64_t count;
        int32_t jobs;
        int32_t workerLimit; // worker numbers stay below this
    };
    for (const Case c : {Case {1000, 3, 3}, Case {1000, 2, 2}, Case {2, 3, 2}, Case {500, 8, 3}}) {
        std::vector<std::atomic<int32_t>> visits(static_cast<std::size_t>(c.count));
        int32_t highestWorker = 0;
        std::set<std::thread::id> threads;
        parallelFor(c.count, c.jobs, [&](int64_t index, int32_t worker) {
            ++visits[static_cast<std::size_t>(index)];
            std::lock_guard lock(mutex);
            highestWorker = std::max(highestWorker, worker);
            threads.insert(std::this_thread::get_id());
        }, &pool);
        const std::string name = std::to_string(c.count) + " on " + std::to_string(c.jobs);
        for (const auto& v : visits)
            ASSERT_EQ(v.load(), 1) << name;
        EXPECT_LT(highestWorker, c.workerLimit) << name;
        for (const std::thread::id& id : threads)
            EXPECT_EQ(poolThreads.count(id), 1u) << name;
    }

    // One job runs inline, on the caller's thread, pool or not.
    std::thread::id inlineThread;
    parallelFor(1, 3, [&](int64_t, int32_t) { inlineThread = std::this_thread::get_id(); }, &pool);
    EXPECT_EQ(inlineThread, std::this_thread::get_id());
}
