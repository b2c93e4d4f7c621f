#pragma once

#include "platform/desktop/Rect.h"

class QImage;

namespace desktop {

class LoopingPlayer;

// Receives the input that reaches a cover window. Mapping from Qt: a mouse press is mouseDown;
// a key press with Ctrl or Super held is first offered as a key equivalent, then (when that
// answers false) delivered as keyDown; other key presses are keyDown; presses and releases of
// modifier keys (Shift, Ctrl, Alt, Super, Caps Lock) are flagsChanged.
class WindowEventHandler {
  public:
    virtual ~WindowEventHandler() = default;
    virtual void mouseDown() = 0;
    virtual void keyDown() = 0;
    virtual bool performKeyEquivalent() = 0;
    virtual void flagsChanged() = 0;
};

// A borderless cover window on one screen: black, opaque, above everything else.
//
// The platform's notions map as follows: the screen-saver window level is Qt's stays-on-top
// plus bypassing the window manager (an override-redirect window, as X11 screen savers use);
// joining every workspace comes with override-redirect, which no window manager moves between
// workspaces; "key" and "main" window are both Qt's active window; ordering out hides the window,
// closing closes it without deleting it (the owner deletes it).
class Window {
  public:
    virtual ~Window() = default;

    // The handler gets the window's input; null detaches it. Not owned.
    virtual void setEventHandler(WindowEventHandler* handler) = 0;

    // Content: an image drawn aspect-fit and centred on black (a null image: black); a looping
    // player's video in aspect fill; or plain black.
    virtual void setImageContent(const QImage& image) = 0;
    virtual void setVideoContent(LoopingPlayer& player) = 0;
    virtual void setBlackoutContent() = 0;

    virtual void makeKeyAndOrderFront() = 0;
    virtual void orderFrontRegardless() = 0;
    virtual void makeMainWindow() = 0;
    virtual void orderOut() = 0;
    virtual void close() = 0;

    virtual void setFrame(const Rect& frame) = 0;
    virtual Rect frame() const = 0;
    // Repaints now.
    virtual void display() = 0;
};

}  // namespace desktop
