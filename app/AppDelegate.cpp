#include "app/AppDelegate.h"

#include <algorithm>
#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QKeySequence>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

#include "app/KeyEquivalents.h"
#include "app/OSCManager.h"
#include "app/PreferencesView.h"
#include "covers/FullscreenImageOverlay.h"
#include "platform/desktop/ActivationPolicy.h"
#include "platform/desktop/StatusItem.h"
#include "platform/foundation/UserDefaults.h"

namespace mantleshade {

AppDelegate::AppDelegate()
    : AppDelegate(FullscreenImageOverlay::create(), updater::UpdaterConfiguration::standard()) {}

AppDelegate::AppDelegate(std::shared_ptr<FullscreenImageOverlay> imageOverlay,
                         updater::UpdaterConfiguration updaterConfiguration,
                         foundation::UserDefaults* defaults)
    : defaults_(defaults ? defaults : &foundation::UserDefaults::standard()),
      imageOverlay_(std::move(imageOverlay)),
      updaterConfiguration_(std::move(updaterConfiguration)),
      oscManager_(OSCManager::create(false, defaults_)) {
    // Creates the controller, which starts the updater.
    updaterController();
}

AppDelegate::~AppDelegate() {
    if (preferencesWindow_) delete preferencesWindow_.data();
    // The menu goes before the item that shows it.
    if (statusItem_) statusItem_->setMenu(nullptr);
}

updater::SPUStandardUpdaterController& AppDelegate::updaterController() {
    if (!updaterController_) {
        updaterController_ = std::make_unique<updater::SPUStandardUpdaterController>(
            true, this, updaterConfiguration_);
    }
    return *updaterController_;
}

void AppDelegate::applicationDidFinishLaunching() {
    statusItem_ = desktop::StatusItem::create(desktop::StatusItem::Length::variable);
    if (statusItem_->hasButton()) {
        statusItem_->setButtonImage(desktop::StatusItem::systemSymbolImage("photo.tv"),
                                    "Image Overlay");
    }

    menu_ = std::make_unique<QMenu>();
    // The three separators in a row stay visible, as the menu was laid out.
    menu_->setSeparatorsCollapsible(false);
    menu_->addAction("Show First Overlay", this, &AppDelegate::showOverlay);
    menu_->addAction("Black Out Screens", this, &AppDelegate::blackout);
    menu_->addSeparator();
    menu_->addSeparator();
    menu_->addSeparator();
    QAction* preferences = menu_->addAction("Preferences...", this, &AppDelegate::openPreferences);
    preferences->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    menu_->addSeparator();
    QAction* quit = menu_->addAction("Quit", this, &AppDelegate::terminate);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    statusItem_->setMenu(menu_.get());
    keyEquivalents_ = std::make_unique<KeyEquivalents>();
    keyEquivalents_->add(preferences);
    keyEquivalents_->add(quit);

    oscManager_->setDelegate(imageOverlay_);
    // Cover windows and images ready before the first show asks for them.
    if (imageOverlay_) imageOverlay_->prepareCovers();

    if (defaults_->boolean("showInDock").value_or(false)) {
        desktop::setActivationPolicy(desktop::ActivationPolicy::regular);
    }

    // Without a tray the application would show nothing at all. A tray that starts with the
    // session gets a moment; one that comes later still takes the icon (Qt docks it then).
    QTimer::singleShot(kTrayGrace, this, [this] {
        if (!statusItem_ || statusItem_->hasButton() || terminating_) return;
        std::puts(
            "Mantleshade: there is no system tray, so it has no icon there; Preferences is open "
            "instead, and launching Mantleshade again shows Preferences.");
        openPreferences();
    });
}

void AppDelegate::applicationWillTerminate() {
    if (willTerminateRan_) return;
    willTerminateRan_ = true;
    if (imageOverlay_) imageOverlay_->tearDownOverlays();
    oscManager_->stopListening();
    oscManager_->setDelegate({});
}

void AppDelegate::terminate() {
    if (terminating_) return;
    if (applicationShouldTerminate() != TerminateReply::terminateNow) return;
    terminating_ = true;
    applicationWillTerminate();
    emit terminated();
}

void AppDelegate::showOverlay() {
    if (auto delegate = oscManager_->delegate()) delegate->showOverlay(1);
}

void AppDelegate::blackout() {
    if (auto delegate = oscManager_->delegate()) delegate->blackout();
}

void AppDelegate::hideOverlay() {
    if (imageOverlay_) imageOverlay_->hideOverlays();
}

void AppDelegate::openPreferences() {
    // While covers are up they keep the keyboard: Preferences opens behind them, unfocused.
    const bool coversUp = imageOverlay_ && imageOverlay_->isActive();
    if (preferencesWindow_) {
        if (coversUp)
            showWithoutActivating(preferencesWindow_);
        else
            desktop::activateIgnoringOtherApps(preferencesWindow_);
        return;
    }

    auto* window =
        new QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    window->setWindowTitle("Preferences");
    auto* layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(makePreferencesView(oscManager_, updaterController(), window, defaults_));
    // Made at 500 by 400, then fitted to its content as a hosted view's window is: a smaller
    // window would cut off the tabs. Not resizable.
    // The height is the one the content needs at that width, so wrapped texts always fit.
    QSize size = layout->sizeHint().expandedTo(QSize(500, 400));
    if (layout->hasHeightForWidth())
        size.setHeight(std::max(size.height(), layout->totalHeightForWidth(size.width())));
    size.setHeight(std::max(size.height(), layout->totalMinimumSize().height()));
    window->setFixedSize(size);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), window->size());
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
    window->installEventFilter(this);
    desktop::registerApplicationWindow(window);

    preferencesWindow_ = window;
    if (coversUp)
        showWithoutActivating(window);
    else
        desktop::activateIgnoringOtherApps(window);
}

void AppDelegate::showWithoutActivating(QWidget* window) {
    QPointer<QWidget> keyWindow = QApplication::activeWindow();
    if (!window->isVisible()) {
        window->setAttribute(Qt::WA_ShowWithoutActivating, true);
        window->show();
        window->setAttribute(Qt::WA_ShowWithoutActivating, false);
    }
    // Some platforms activate every window they show: the cover that had the keyboard keeps it.
    if (keyWindow && keyWindow != window) keyWindow->activateWindow();
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == preferencesWindow_.data()) {
        // The next openPreferences builds a fresh window and view.
        preferencesWindow_->removeEventFilter(this);
        preferencesWindow_->deleteLater();
        preferencesWindow_ = nullptr;
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::standardUserDriverWillFinishUpdateSession() {
    if (imageOverlay_) imageOverlay_->tearDownOverlays();
}

}  // namespace mantleshade
