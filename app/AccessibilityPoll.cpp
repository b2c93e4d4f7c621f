#include "app/AccessibilityPoll.h"

namespace mantleshade {

AccessibilityPoll::AccessibilityPoll(std::function<bool()> trustCheck, QObject* parent)
    : QObject(parent), trustCheck_(std::move(trustCheck)) {
    hasPermission_ = trustCheck_ ? trustCheck_() : false;
    timer_.setInterval(kIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &AccessibilityPoll::refreshAccessibilityPermission);
}

void AccessibilityPoll::startAccessibilityTimer() {
    timer_.start();
}

void AccessibilityPoll::refreshAccessibilityPermission() {
    const bool trusted = trustCheck_ ? trustCheck_() : false;
    if (trusted == hasPermission_) return;
    hasPermission_ = trusted;
    emit hasAccessibilityPermissionChanged(trusted);
}

void AccessibilityPoll::stopAccessibilityTimer() {
    timer_.stop();
}

}  // namespace mantleshade
