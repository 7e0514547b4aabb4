#include "common/worker_pool.h"

#include <algorithm>

WorkerPool::WorkerPool(int32_t threads) : m_size(std::max(1, threads)) {}

WorkerPool::~WorkerPool()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void WorkerPool::start(std::function<void(int32_t worker)> body)
{
    {
        std::lock_guard lock(m_mutex);
        m_body = std::move(body);
        m_running = m_size;
        ++m_generation;
    }
    if (m_threads.empty()) {
        m_threads.reserve(static_cast<std::size_t>(m_size));
        for (int32_t worker = 0; worker < m_size; ++worker)
            m_threads.emplace_back(&WorkerPool::loop, this, worker);
    }
    m_wake.notify_all();
}

void WorkerPool::wait()
{
    std::unique_lock lock(m_mutex);
    m_finished.wait(lock, [this] { return m_running == 0; });
    m_body = nullptr;
}

void WorkerPool::run(std::function<void(int32_t worker)> body)
{
    start(std::move(body));
    wait();
}

void WorkerPool::loop(int32_t worker)
{
    uint64_t seen = 0;
    for (;;) {
        std::function<void(int32_t)>* body = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stopping || m_generation != seen; });
            if (m_stopping)
                return;
            seen = m_generation;
            body = &m_body;
        }
        (*body)(worker);
        std::lock_guard lock(m_mutex);
        if (--m_running == 0)
            m_finished.notify_all();
    }
}
