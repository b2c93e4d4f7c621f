#include "app/PreferencesSystemServices.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <cmath>

#include "app/OSCManager.h"
#include "platform/desktop/Accessibility.h"
#include "platform/desktop/ActivationPolicy.h"
#include "platform/desktop/FileReveal.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/Screens.h"

namespace mantleshade {

namespace {

ConnectedScreen toConnected(const desktop::Screen& screen) {
    const QRect frame(static_cast<int>(std::lround(screen.frame.x)),
                      static_cast<int>(std::lround(screen.frame.y)),
                      static_cast<int>(std::lround(screen.frame.width)),
                      static_cast<int>(std::lround(screen.frame.height)));
    return ConnectedScreen{screen.displayID, screen.localizedName, frame};
}

}  // namespace

PreferencesSystemServices::PreferencesSystemServices(std::shared_ptr<OSCManager> oscManager,
                                                     QObject* parent)
    : PreferencesServices(parent), osc_(std::move(oscManager)) {
    if (osc_) {
        connect(osc_.get(), &OSCManager::serverIsListeningChanged, this,
                &PreferencesServices::oscStateChanged);
        connect(osc_.get(), &OSCManager::currentListeningPortChanged, this,
                &PreferencesServices::oscStateChanged);
    }
}

bool PreferencesSystemServices::serverIsListening() const {
    return osc_ && osc_->serverIsListening();
}

std::optional<std::int64_t> PreferencesSystemServices::currentListeningPort() const {
    return osc_ ? osc_->currentListeningPort() : std::nullopt;
}

void PreferencesSystemServices::startListening() {
    if (osc_) osc_->startListening();
}

bool PreferencesSystemServices::isAccessibilityTrusted() {
    return desktop::Accessibility::isProcessTrusted();
}

void PreferencesSystemServices::requestAccessibilityPermission() {
    (void)desktop::Accessibility::isProcessTrustedWithPrompt(true);
}

void PreferencesSystemServices::setShowsDockIcon(bool shows) {
    desktop::setActivationPolicy(shows ? desktop::ActivationPolicy::regular
                                       : desktop::ActivationPolicy::accessory);
}

std::vector<ConnectedScreen> PreferencesSystemServices::screens() {
    std::vector<ConnectedScreen> result;
    if (auto system = desktop::Screens::system())
        for (const desktop::Screen& screen : system->screens())
            result.push_back(toConnected(screen));
    return result;
}

std::optional<ConnectedScreen> PreferencesSystemServices::mainScreen() {
    auto system = desktop::Screens::system();
    if (!system) return std::nullopt;
    if (auto main = system->mainScreen()) return toConnected(*main);
    return std::nullopt;
}

std::optional<foundation::URL> PreferencesSystemServices::chooseMedia() {
    desktop::OpenPanel panel;
    panel.allowsMultipleSelection = false;
    panel.canChooseDirectories = false;
    panel.canChooseFiles = true;
    panel.allowedContentTypes = {desktop::ContentType::pngImage, desktop::ContentType::jpegImage,
                                 desktop::ContentType::movie, desktop::ContentType::mpeg4Movie};
    panel.message = "Select an image or video to display in fullscreen";
    std::optional<std::string> path = panel.runModal(QApplication::activeWindow());
    if (!path) return std::nullopt;
    return foundation::URL::fileURL(*path);
}

void PreferencesSystemServices::revealInFileManager(const foundation::URL& url) {
    const QString path = QString::fromStdString(url.path());
    QPointer<QWidget> window = QApplication::activeWindow();
    desktop::FileReveal::reveal(url.path(), [path, window] {
        // Otherwise the click would do nothing visible at all.
        auto* box = new QMessageBox(QMessageBox::Information, "Reveal",
                                    "No file manager could show the file. It is at:\n" + path,
                                    QMessageBox::Ok, window);
        box->setObjectName("revealFailedMessage");
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setWindowModality(Qt::WindowModal);
        box->open();
    });
}

}  // namespace mantleshade
