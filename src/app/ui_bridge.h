#pragma once

// How worker threads (the conversion, the movie) reach the user-interface thread: posted calls, and questions
// that wait for their answer without polling. Nothing of the interface is touched from a worker thread.

#include <QObject>
#include <QThread>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace zoomreel::app {

class UiBridge {
public:
    /// Calls run on the thread of `context`, which must outlive the bridge; posted calls still queued when it
    /// is destroyed are dropped.
    explicit UiBridge(QObject* context) : context_(context) {}

    /// Runs `call` on the interface thread later, unless the bridge is closed by then; returns at once.
    void post(std::function<void()> call);

    /// Runs `call` now when called on the interface thread, else as `post` does.
    void run(std::function<void()> call);

    /// Runs `question` on the interface thread and waits for its answer. Once the bridge is closed (the program
    /// is ending), or when the question could not be asked, the waiting thread gets `fallback` instead, so that
    /// no worker waits for a window that will never answer. On the interface thread itself it simply asks.
    template <typename T>
    T ask(std::function<T()> question, T fallback) {
        if (QThread::currentThread() == context_->thread()) return question();
        auto answer = std::make_shared<std::optional<T>>();
        {
            std::lock_guard lock(mutex_);
            if (closed_) return fallback;
        }
        post([this, answer, question = std::move(question)] {
            T value = question();
            {
                std::lock_guard lock(mutex_);
                *answer = std::move(value);
            }
            answered_.notify_all();
        });
        std::unique_lock lock(mutex_);
        answered_.wait(lock, [&] { return answer->has_value() || closed_; });
        return answer->has_value() ? std::move(**answer) : fallback;
    }

    /// Every waiting question gets its fallback, and so does every later one; posted calls not yet run are
    /// dropped.
    void close();
    bool closed() const {
        std::lock_guard lock(mutex_);
        return closed_;
    }

private:
    QObject* context_;
    mutable std::mutex mutex_;
    std::condition_variable answered_;
    bool closed_ = false;
};

}  // namespace zoomreel::app
