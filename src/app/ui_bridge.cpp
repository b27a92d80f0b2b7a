#include "app/ui_bridge.h"

#include <QMetaObject>

namespace zoomreel::app {

void UiBridge::post(std::function<void()> call) {
    QMetaObject::invokeMethod(
        context_,
        [this, call = std::move(call)] {
            if (!closed()) call();
        },
        Qt::QueuedConnection);
}

void UiBridge::run(std::function<void()> call) {
    if (QThread::currentThread() == context_->thread()) {
        call();
    } else {
        post(std::move(call));
    }
}

void UiBridge::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    answered_.notify_all();
}

}  // namespace zoomreel::app
