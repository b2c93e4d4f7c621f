#include "platform/desktop/QtWindowSystem.h"

#include <QFileInfo>
#include <QImage>

#include "platform/desktop/Accessibility.h"
#include "platform/desktop/CoverStacking.h"
#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/CoverWindowPool.h"
#include "platform/desktop/GstLoopingPlayer.h"
#include "platform/desktop/ImageCache.h"
#include "platform/desktop/VideoPipeline.h"
#include "platform/desktop/X11KeyboardTap.h"

namespace desktop {

std::shared_ptr<WindowSystem> WindowSystem::qt() {
    return std::make_shared<QtWindowSystem>();
}

QtWindowSystem::QtWindowSystem() : pool_(std::make_unique<CoverWindowPool>()) {
    CoverStacking::install();
}

QtWindowSystem::~QtWindowSystem() = default;

std::vector<Screen> QtWindowSystem::screens() const {
    return Screens::system()->screens();
}

std::unique_ptr<Window> QtWindowSystem::createWindow(const Screen& screen) {
    if (auto kept = pool_->take(screen)) return kept;
    return std::make_unique<CoverWindow>(screen);
}

void QtWindowSystem::recycleWindow(std::unique_ptr<Window> window) {
    if (auto* cover = dynamic_cast<CoverWindow*>(window.get())) {
        (void)window.release();
        pool_->put(std::unique_ptr<CoverWindow>(cover));
    }
}

void QtWindowSystem::prepareWindows() {
    pool_->prepare(screens());
}

std::size_t QtWindowSystem::keptWindowCount() const {
    return pool_->size();
}

namespace {

std::vector<QSize> screenSizes(const std::vector<Screen>& screens) {
    std::vector<QSize> sizes;
    for (const Screen& screen : screens)
        sizes.emplace_back(static_cast<int>(screen.frame.width),
                           static_cast<int>(screen.frame.height));
    return sizes;
}

}  // namespace

void QtWindowSystem::prefetchImages(const std::vector<foundation::URL>& urls) {
    std::vector<QString> paths;
    for (const foundation::URL& url : urls)
        if (url.isFileURL()) paths.push_back(QString::fromStdString(url.path()));
    ImageCache::shared().prefetch(std::move(paths), screenSizes(screens()));
}

std::shared_ptr<LoopingPlayer> QtWindowSystem::createLoopingPlayer(const foundation::URL& url) {
    QString path = QString::fromStdString(url.isFileURL() ? url.path() : url.absoluteString());
    // The same file on several screens is decoded once.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (!canonical.isEmpty()) path = canonical;
    std::erase_if(pipelines_, [](const auto& entry) { return entry.second.expired(); });
    std::shared_ptr<VideoPipeline> pipeline = pipelines_[path].lock();
    if (!pipeline) {
        pipeline = std::make_shared<VideoPipeline>(path);
        pipelines_[path] = pipeline;
    }
    return std::make_shared<GstLoopingPlayer>(std::move(pipeline));
}

QImage QtWindowSystem::loadImage(const foundation::URL& url, std::string* why) {
    if (!url.isFileURL()) {
        if (why) *why = "not a local file";
        return {};
    }
    QString reason;
    QImage image = ImageCache::shared().image(
        QString::fromStdString(url.path()), ImageCache::boundFor(screenSizes(screens())), &reason);
    if (image.isNull() && why) *why = reason.toStdString();
    return image;
}

void QtWindowSystem::activateIgnoringOtherApps() {
    // Nothing to do on X11: each cover window activates itself as it is ordered front.
}

std::unique_ptr<KeyboardTap> QtWindowSystem::createKeyboardTap(KeyboardTap::Callback callback,
                                                               KeyboardTapFailure* failure) {
    return X11KeyboardTap::create(std::move(callback), failure);
}

bool QtWindowSystem::isProcessTrusted() {
    return Accessibility::isProcessTrusted();
}

}  // namespace desktop
