#include "platform/worker_pool.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace zoomreel {

void lowerThreadPriority() {
    // Linux keeps a niceness per thread; the thread's id names it.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0) ::setpriority(PRIO_PROCESS, self, std::min(now + 10, 19));
}

int WorkerPool::processorCount() {
    const unsigned count = std::thread::hardware_concurrency();
    return std::clamp(static_cast<int>(count == 0 ? 1 : count), 1, kMaxWorkers);
}

WorkerPool::WorkerPool(int workers) {
    const int count = workers < 1 ? processorCount() : std::min(workers, kMaxWorkers);
    threads_.reserve(count);
    for (int i = 0; i < count; ++i) threads_.emplace_back([this, i] { workerLoop(i); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& t : threads_) t.join();
}

void WorkerPool::run(const std::function<void(int, int)>& job) { run(job, {}); }

void WorkerPool::run(const std::function<void(int, int)>& job, const std::function<void()>& alongside) {
    std::unique_lock lock(mutex_);
    job_ = &job;
    pending_ = workerCount();
    ++generation_;
    wake_.notify_all();
    if (alongside) {
        lock.unlock();
        alongside();
        lock.lock();
    }
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
}

void WorkerPool::workerLoop(int worker) {
    std::uint64_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_) return;
        seen = generation_;
        const auto* job = job_;
        const int count = workerCount();
        lock.unlock();
        (*job)(worker, count);
        lock.lock();
        if (--pending_ == 0) done_.notify_one();
    }
}

}  // namespace zoomreel
