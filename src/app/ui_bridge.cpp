#include "app/ui_bridge.h"

#include <QMetaObject>

namespace zoomreel::app {

void UiBridge::post(std::function<void()> call) const {
    QMetaObject::invokeMethod(context_, std::move(call), Qt::QueuedConnection);
}

void UiBridge::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    answered_.notify_all();
}

}  // namespace zoomreel::app
