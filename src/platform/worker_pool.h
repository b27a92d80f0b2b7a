#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zoomreel {

/// A fixed set of persistent worker threads. `run` hands one job to every worker at once and blocks the caller
/// until all of them have finished it, so a job never overlaps the next. A job typically takes rows
/// `worker, worker + workerCount, ...`, which spreads the cost of uneven rows evenly and makes the result
/// independent of the worker count as long as each row is computed alone.
///
/// `run` must be called from one thread at a time. A job must not throw.
/// Gives the calling thread a much smaller share of the processors than the render workers (best effort). For
/// work beside them, such as encoding and reading ahead: the workers meet at the end of every step, so a worker
/// held up by other work holds up all of them. The share stays large enough that other programs never starve it.
void lowerThreadPriority();

class WorkerPool {
public:
    /// `workers` below 1 means one per processor, at most `kMaxWorkers`.
    explicit WorkerPool(int workers = 0);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    static constexpr int kMaxWorkers = 32;
    static int processorCount();

    int workerCount() const { return static_cast<int>(threads_.size()); }
    void run(const std::function<void(int worker, int workerCount)>& job);
    /// Like `run`, with the calling thread doing `alongside` while the workers run `job`, instead of idling.
    void run(const std::function<void(int worker, int workerCount)>& job, const std::function<void()>& alongside);

private:
    void workerLoop(int worker);

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(int, int)>* job_ = nullptr;
    std::uint64_t generation_ = 0;
    int pending_ = 0;
    bool stopping_ = false;
};

}  // namespace zoomreel
