#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

namespace mantleshade {

// Polls the Accessibility trust check once a second while the Preferences window is on screen,
// so that Lock Out becomes usable as soon as the permission is granted.
class AccessibilityPoll : public QObject {
    Q_OBJECT

  public:
    static constexpr int kIntervalMs = 1000;

    // `trustCheck` runs once now (the initial value) and at every tick.
    explicit AccessibilityPoll(std::function<bool()> trustCheck, QObject* parent = nullptr);

    bool hasAccessibilityPermission() const { return hasPermission_; }
    bool isRunning() const { return timer_.isActive(); }

    // Starting again restarts the one timer: never two polls at once.
    void startAccessibilityTimer();
    void refreshAccessibilityPermission();
    void stopAccessibilityTimer();

  signals:
    void hasAccessibilityPermissionChanged(bool value);

  private:
    std::function<bool()> trustCheck_;
    bool hasPermission_ = false;
    QTimer timer_;
};

}  // namespace mantleshade
