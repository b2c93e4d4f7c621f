#include "platform/desktop/ImageCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QImageReader>
#include <QPainter>
#include <QThread>

#include "platform/desktop/ImageView.h"
#include "platform/dispatch/Queue.h"

namespace desktop {

namespace {

// Files kept beyond the ones the cover list names: the few shown last.
constexpr std::size_t kExtraImages = 4;
// Scaled pictures kept per image: one per screen size, and some to spare.
constexpr std::size_t kSizesPerImage = 8;
// Pixels kept at most, decoded and scaled together; past it the files used longest ago go (and
// are decoded again at their next show).
constexpr qsizetype kBudgetBytes = qsizetype{1} << 30;

bool onMainThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

}  // namespace

QImage decodeImageFile(const QString& path) {
    // Only regular files: opening a FIFO or a device would block.
    if (!QFileInfo(path).isFile()) return {};
    // QImageReader refuses images past its allocation limit, so a hostile file stays black.
    QImageReader reader(path);
    reader.setAutoTransform(true);
    return reader.read();
}

ImageCache& ImageCache::shared() {
    // Never destroyed: background work may still run while the process exits.
    static auto* cache = new ImageCache;
    return *cache;
}

ImageCache::ImageCache() : queue_(dispatch::Queue::createSerial("mantleshade.images")) {}

ImageCache::~ImageCache() {
    waitForPrefetch();
    // The watcher belongs to the application's thread: deleted there, or with the application.
    if (!watcher_) return;
    if (onMainThread())
        delete watcher_.data();
    else
        QObject::disconnect(watcher_.data(), nullptr, nullptr, nullptr);
}

ImageCache::Stamp ImageCache::stampOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return {};
    return Stamp{true, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
                 static_cast<std::uint64_t>(st.st_size),
                 static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QImage ImageCache::image(const QString& path) {
    return load(path, stampOf(path));
}

QImage ImageCache::load(const QString& path, const Stamp& stamp) {
    if (!stamp.exists) return {};
    {
        std::lock_guard lock(mutex_);
        auto it = images_.find(path);
        if (it != images_.end() && it->second.stamp == stamp) {
            it->second.lastUse = ++uses_;
            return it->second.image;
        }
    }
    // Decoded outside the lock; the stamp taken before decoding makes a file that changes
    // meanwhile count as changed at the next look.
    QImage decoded = decodeImageFile(path);
    std::lock_guard lock(mutex_);
    ++decodes_;
    images_[path] = Entry{stamp, decoded, ++uses_};
    trimLocked();
    return decoded;
}

QImage ImageCache::scaled(const QImage& image, const QSize& size) {
    if (image.isNull() || size.isEmpty()) return {};
    const ScaledKey key{image.cacheKey(), {size.width(), size.height()}};
    {
        std::lock_guard lock(mutex_);
        auto it = scaled_.find(key);
        if (it != scaled_.end()) return it->second;
    }
    QImage picture = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    if (picture.hasAlphaChannel()) {
        // Transparent parts show the black behind the image.
        QImage onBlack(size, QImage::Format_RGB32);
        onBlack.fill(Qt::black);
        QPainter painter(&onBlack);
        painter.drawImage(0, 0, picture);
        painter.end();
        picture = onBlack;
    } else if (picture.format() != QImage::Format_RGB32) {
        picture = picture.convertToFormat(QImage::Format_RGB32);
    }
    std::lock_guard lock(mutex_);
    ++scales_;
    std::size_t sizes = 0;
    for (auto it = scaled_.lower_bound({key.first, {INT_MIN, INT_MIN}});
         it != scaled_.end() && it->first.first == key.first; ++it)
        ++sizes;
    if (sizes >= kSizesPerImage) {
        scaled_.erase(scaled_.lower_bound({key.first, {INT_MIN, INT_MIN}}),
                      scaled_.upper_bound({key.first, {INT_MAX, INT_MAX}}));
    }
    scaled_[key] = picture;
    trimLocked();
    return picture;
}

void ImageCache::trimLocked() {
    // Let go of the files no cover names, beyond the few used last.
    std::vector<std::pair<std::uint64_t, QString>> extra;
    for (const auto& [path, entry] : images_)
        if (!wanted_.contains(path)) extra.emplace_back(entry.lastUse, path);
    if (extra.size() > kExtraImages) {
        std::sort(extra.begin(), extra.end());
        for (std::size_t i = 0; i + kExtraImages < extra.size(); ++i)
            images_.erase(extra[i].second);
    }
    dropOrphansLocked();
    // Within the budget, whatever the list names.
    auto bytes = [this] {
        qsizetype total = 0;
        for (const auto& [path, entry] : images_) total += entry.image.sizeInBytes();
        for (const auto& [key, picture] : scaled_) total += picture.sizeInBytes();
        return total;
    };
    while (images_.size() > 1 && bytes() > kBudgetBytes) {
        auto oldest = std::min_element(images_.begin(), images_.end(), [](auto& a, auto& b) {
            return a.second.lastUse < b.second.lastUse;
        });
        images_.erase(oldest);
        dropOrphansLocked();
    }
}

void ImageCache::dropOrphansLocked() {
    // The pictures of images no longer kept.
    std::set<qint64> live;
    for (const auto& [path, entry] : images_) live.insert(entry.image.cacheKey());
    for (auto it = scaled_.begin(); it != scaled_.end();) {
        if (!live.contains(it->first.first))
            it = scaled_.erase(it);
        else
            ++it;
    }
}

void ImageCache::prefetch(std::vector<QString> paths, std::vector<QSize> viewSizes) {
    {
        std::lock_guard lock(mutex_);
        wanted_ = std::set<QString>(paths.begin(), paths.end());
        viewSizes_ = viewSizes;
    }
    if (onMainThread()) {
        if (!watcher_) {
            // A child of the application, so that it goes with it (tests make several).
            watcher_ = new QFileSystemWatcher(QCoreApplication::instance());
            QObject::connect(watcher_.data(), &QFileSystemWatcher::fileChanged,
                             [this](const QString& path) { fileChanged(path); });
        }
        const QStringList watched = watcher_->files();
        if (!watched.isEmpty()) watcher_->removePaths(watched);
        QStringList existing;
        for (const QString& path : paths)
            if (QFileInfo(path).isFile()) existing << path;
        if (!existing.isEmpty()) watcher_->addPaths(existing);
    }
    decodeAhead(paths);
}

void ImageCache::fileChanged(const QString& path) {
    // A file replaced by a rename drops out of the watch: watch the new one.
    if (watcher_ && !watcher_->files().contains(path) && QFileInfo(path).isFile())
        watcher_->addPath(path);
    {
        std::lock_guard lock(mutex_);
        if (!wanted_.contains(path)) return;
    }
    decodeAhead({path});
}

void ImageCache::decodeAhead(const std::vector<QString>& paths) {
    queue_->async([this, paths] {
        std::vector<QSize> sizes;
        {
            std::lock_guard lock(mutex_);
            sizes = viewSizes_;
        }
        for (const QString& path : paths) {
            QImage decoded = load(path, stampOf(path));
            for (const QSize& view : sizes)
                scaled(decoded, ImageView::fittedRect(decoded.size(), view).size());
        }
    });
}

void ImageCache::waitForPrefetch() {
    queue_->sync([] {});
}

int ImageCache::decodeCount() const {
    std::lock_guard lock(mutex_);
    return decodes_;
}

int ImageCache::scaleCount() const {
    std::lock_guard lock(mutex_);
    return scales_;
}

}  // namespace desktop
