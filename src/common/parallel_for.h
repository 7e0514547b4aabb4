#pragma once

#include <cstdint>
#include <functional>

class WorkerPool;

// Worker threads for a job count: 0 means every core, never less than 1.
int32_t resolveJobs(int32_t jobs);

// Runs body(index, worker) for every index in [0, count) on `jobs` threads
// (worker 0..jobs-1; jobs 1 runs inline on the caller's thread). Indices are
// handed out in ascending order, one at a time. The body must not throw.
// The threads are those of `pool` when one is given (the search's: workers
// past the pool's size never run), otherwise a pool made for this call; the
// caller waits. Not from inside a task of that same pool.
void parallelFor(int64_t count, int32_t jobs, const std::function<void(int64_t index, int32_t worker)>& body,
                 WorkerPool* pool = nullptr);
