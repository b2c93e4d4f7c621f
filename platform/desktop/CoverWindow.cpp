#include "platform/desktop/CoverWindow.h"

#include <QBackingStore>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "platform/desktop/GstLoopingPlayer.h"
#include "platform/desktop/ImageView.h"
#include "platform/desktop/QtLoopingPlayer.h"
#include "platform/desktop/VideoView.h"

namespace desktop {

CoverWindow::CoverWindow(const Screen& screen)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint),
      screen_(screen.qscreen) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::StrongFocus);
    setAutoFillBackground(false);
    QPalette palette;
    palette.setColor(QPalette::Window, Qt::black);
    setPalette(palette);
    // Placed on its screen from the start, so it never shows anywhere else.
    if (screen_) {
        setScreen(screen_);
        setGeometry(screen_->geometry());
    } else {
        setGeometry(QRect(static_cast<int>(screen.frame.x), static_cast<int>(screen.frame.y),
                          static_cast<int>(screen.frame.width),
                          static_cast<int>(screen.frame.height)));
    }
}

CoverWindow::~CoverWindow() {
    handler_ = nullptr;
}

void CoverWindow::setContent(QWidget* view) {
    if (content_) delete content_.data();
    content_ = view;
    if (view) {
        storeIsBlack_ = false;
        view->setGeometry(rect());
        view->show();
    }
}

void CoverWindow::setImageContent(const QImage& image) {
    auto* view = new ImageView(this);
    view->setImage(image);
    setContent(view);
}

void CoverWindow::setVideoContent(LoopingPlayer& player) {
    auto* view = new VideoView(this);
    if (auto* gstPlayer = dynamic_cast<GstLoopingPlayer*>(&player))
        gstPlayer->attach(*view);
    else if (auto* qtPlayer = dynamic_cast<QtLoopingPlayer*>(&player))
        qtPlayer->attach(*view);
    setContent(view);
}

QScreen* CoverWindow::coverScreen() const {
    return screen_.data();
}

void CoverWindow::prepareOffscreen() {
    create();
    QBackingStore* store = backingStore();
    if (!store) return;
    store->resize(size());
    // Touched once, so its pages are in place before the first paint.
    const QRect all = rect();
    store->beginPaint(QRegion(all));
    if (QPaintDevice* device = store->paintDevice()) {
        QPainter painter(device);
        painter.fillRect(all, Qt::black);
        storeIsBlack_ = true;
    }
    store->endPaint();
}

void CoverWindow::setBlackoutContent() {
    setContent(nullptr);
}

namespace {

// The offscreen platform has no stacking order (and warns about each attempt).
bool canRaise() {
    return QGuiApplication::platformName() != QLatin1String("offscreen");
}

}  // namespace

void CoverWindow::makeKeyAndOrderFront() {
    show();
    if (canRaise()) raise();
    activateWindow();
}

void CoverWindow::orderFrontRegardless() {
    show();
    if (canRaise()) raise();
}

void CoverWindow::makeMainWindow() {
    activateWindow();
}

void CoverWindow::orderOut() {
    hide();
}

void CoverWindow::close() {
    // Hidden, not destroyed: the native window and its backing store stay for the next show
    // (QWidget::close would destroy both).
    hide();
}

void CoverWindow::setFrame(const Rect& frame) {
    setGeometry(QRect(static_cast<int>(frame.x), static_cast<int>(frame.y),
                      static_cast<int>(frame.width), static_cast<int>(frame.height)));
}

Rect CoverWindow::frame() const {
    QRect g = geometry();
    return Rect{static_cast<double>(g.x()), static_cast<double>(g.y()),
                static_cast<double>(g.width()), static_cast<double>(g.height())};
}

void CoverWindow::display() {
    QBackingStore* store = backingStore();
    QWindow* native = windowHandle();
    if (!isVisible() || !store || !native || !native->handle()) {
        repaint();
        return;
    }
    // Painted into the backing store and put on screen now, right behind the map request, rather
    // than a server round trip later when the expose arrives. Whatever the store held from an
    // earlier show is painted over before anything is flushed.
    const QRect all = rect();
    if (store->size() != all.size()) {
        store->resize(all.size());
        storeIsBlack_ = false;
    }
    // A black cover in a store that is black already (a kept window) only needs the put.
    if (content_ || !storeIsBlack_) {
        store->beginPaint(QRegion(all));
        render(store->paintDevice(), QPoint(), QRegion(all), DrawWindowBackground | DrawChildren);
        store->endPaint();
        storeIsBlack_ = !content_;
    }
    store->flush(QRegion(all), native);
}

bool CoverWindow::isModifierKey(int key) {
    switch (key) {
        case Qt::Key_Shift:
        case Qt::Key_Control:
        case Qt::Key_Meta:
        case Qt::Key_Alt:
        case Qt::Key_AltGr:
        case Qt::Key_CapsLock:
        case Qt::Key_Super_L:
        case Qt::Key_Super_R:
        case Qt::Key_Hyper_L:
        case Qt::Key_Hyper_R:
            return true;
        default:
            return false;
    }
}

bool CoverWindow::event(QEvent* event) {
    // Every key comes to keyPressEvent, none is taken as an application shortcut.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

// Focus changes draw nothing on a cover: no repaint for them.
void CoverWindow::focusInEvent(QFocusEvent* event) {
    event->accept();
}

void CoverWindow::focusOutEvent(QFocusEvent* event) {
    event->accept();
}

void CoverWindow::mousePressEvent(QMouseEvent* event) {
    event->accept();
    if (handler_) handler_->mouseDown();
}

void CoverWindow::keyPressEvent(QKeyEvent* event) {
    event->accept();
    if (!handler_) return;
    if (isModifierKey(event->key())) {
        handler_->flagsChanged();
        return;
    }
    if (event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) {
        if (handler_->performKeyEquivalent()) return;
        if (!handler_) return;
    }
    handler_->keyDown();
}

void CoverWindow::keyReleaseEvent(QKeyEvent* event) {
    event->accept();
    if (handler_ && isModifierKey(event->key()) && !event->isAutoRepeat()) handler_->flagsChanged();
}

void CoverWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
}

void CoverWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (content_) content_->setGeometry(rect());
}

}  // namespace desktop
