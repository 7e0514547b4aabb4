#include "common/worker_pool.h"

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

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
