#pragma once

class QWidget;

namespace desktop {

// The application's presence in the taskbar, the Linux stand-in for the Dock icon.
//
// X11 has no per-application taskbar entry: the taskbar lists windows. So "accessory" marks every
// window the application registers here as skip-taskbar and skip-pager (_NET_WM_STATE), and
// "regular" lets them appear like any other window. Cover windows bypass the window manager and
// never appear. Other platforms (Wayland, offscreen) only record the policy.
enum class ActivationPolicy {
    regular = 0,     // a taskbar entry
    accessory = 1,   // no taskbar presence (the start-up policy)
    prohibited = 2,  // like accessory; never activated
};

// The current policy; accessory until changed.
ActivationPolicy activationPolicy();
// Switches live: every registered window is updated at once. Main thread only.
void setActivationPolicy(ActivationPolicy policy);

// Makes `window` follow the policy from now on (before and after it is shown); it leaves the list
// when destroyed.
void registerApplicationWindow(QWidget* window);

// Brings `window` to the front and gives it the keyboard, ahead of other applications.
void activateIgnoringOtherApps(QWidget* window);

// Whether `window` is currently marked skip-taskbar on the X server (false elsewhere); for tests.
bool isSkippingTaskbar(QWidget* window);

}  // namespace desktop
