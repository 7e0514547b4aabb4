#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Threads kept for the length of a search, so that the scan, the loading and
// the pair phases do not start threads for every batch or call. The threads
// start on the first task.
class WorkerPool {
public:
    explicit WorkerPool(int32_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    int32_t size() const { return m_size; }

    // Runs body(worker) once on each thread (worker 0..size-1) and returns at
    // once; the caller may work alongside. One task at a time: wait() before
    // the next start(). The body must not throw.
    void start(std::function<void(int32_t worker)> body);

    // Until every thread has returned from the current task's body.
    void wait();

    // start(body) then wait(): the caller waits while the threads work. Not
    // from inside one of this pool's own tasks (it would wait for itself).
    void run(std::function<void(int32_t worker)> body);

private:
    void loop(int32_t worker);

    int32_t m_size;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_finished;
    std::function<void(int32_t)> m_body;
    uint64_t m_generation = 0;
    int32_t m_running = 0;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};
