#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/desktop/Screens.h"
#include "platform/desktop/Window.h"

namespace desktop {

// The Qt cover window: a frameless, stays-on-top, override-redirect black widget at exactly its
// screen's geometry. Its content view (image, video or nothing) always fills it.
class CoverWindow final : public QWidget, public Window {
    Q_OBJECT

  public:
    explicit CoverWindow(const Screen& screen);
    ~CoverWindow() override;

    void setEventHandler(WindowEventHandler* handler) override { handler_ = handler; }
    void setImageContent(const QImage& image) override;
    void setVideoContent(LoopingPlayer& player) override;
    void setBlackoutContent() override;
    void makeKeyAndOrderFront() override;
    void orderFrontRegardless() override;
    void makeMainWindow() override;
    void orderOut() override;
    void close() override;
    void setFrame(const Rect& frame) override;
    Rect frame() const override;
    void display() override;

    // The current content view, or null (black).
    QWidget* contentView() const { return content_; }
    // The screen it was made for; null once that screen is gone.
    QScreen* coverScreen() const;
    // Builds the native window and its backing store now (if not built yet) and paints the store
    // black, without showing anything, so that the next show only maps and paints.
    void prepareOffscreen();

    static bool isModifierKey(int key);

  protected:
    bool event(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void setContent(QWidget* view);

    WindowEventHandler* handler_ = nullptr;
    QPointer<QWidget> content_;
    QPointer<QScreen> screen_;
    // Whether the backing store holds nothing but black (painted so, no content view since).
    bool storeIsBlack_ = false;
};

}  // namespace desktop
