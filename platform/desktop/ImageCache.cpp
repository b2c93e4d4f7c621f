#include "platform/desktop/ImageCache.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

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

QSize decodeSize(const QSize& size, const QSize& bound) {
    if (size.isEmpty() || bound.isEmpty()) return size;
    if (size.width() <= bound.width() && size.height() <= bound.height()) return size;
    return size.scaled(bound, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

DecodedImage decodeImageFile(const QString& path, const QSize& bound) {
    DecodedImage result;
    // Only regular files: opening a FIFO or a device would block.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        result.why = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    if (!S_ISREG(st.st_mode)) {
        result.why = QStringLiteral("not a regular file");
        return result;
    }
    if (st.st_size == 0) {
        result.why = QStringLiteral("the file is empty");
        return result;
    }
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // Decoded at the size the screens need rather than in full: a camera's photo then costs a
    // screen's worth of memory and stays inside QImageReader's allocation limit (JPEG and PNG
    // scale while decoding). The bound is in the picture's upright orientation.
    result.fullSize = reader.size();
    if (result.fullSize.isValid() && !bound.isEmpty()) {
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        const QSize fitted = decodeSize(result.fullSize, turned ? bound.transposed() : bound);
        if (fitted != result.fullSize) reader.setScaledSize(fitted);
    }
    result.image = reader.read();
    if (result.image.isNull()) result.why = reader.errorString();
    return result;
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

QImage ImageCache::image(const QString& path, const QSize& bound, QString* why) {
    return load(path, stampOf(path), bound, why);
}

QSize ImageCache::boundFor(const std::vector<QSize>& viewSizes) {
    QSize bound;
    for (const QSize& size : viewSizes) bound = bound.expandedTo(size);
    return bound;
}

QImage ImageCache::load(const QString& path, const Stamp& stamp, const QSize& bound, QString* why) {
    if (!stamp.exists) {
        DecodedImage missing = decodeImageFile(path, bound);
        if (why) *why = missing.why;
        return missing.image;
    }
    {
        std::lock_guard lock(mutex_);
        auto it = images_.find(path);
        // Kept while the file is unchanged and a decode for this bound would give the same
        // picture (a small image is the same whatever the bound).
        if (it != images_.end() && it->second.stamp == stamp) {
            const DecodedImage& kept = it->second.decoded;
            const bool same = it->second.bound == bound ||
                              (!kept.image.isNull() && kept.image.size() == kept.fullSize &&
                               decodeSize(kept.fullSize, bound) == kept.fullSize);
            if (same) {
                it->second.lastUse = ++uses_;
                if (why) *why = kept.why;
                return kept.image;
            }
        }
    }
    // Decoded outside the lock; the stamp taken before decoding makes a file that changes
    // meanwhile count as changed at the next look.
    DecodedImage decoded = decodeImageFile(path, bound);
    if (why) *why = decoded.why;
    std::lock_guard lock(mutex_);
    ++decodes_;
    QImage image = decoded.image;
    images_[path] = Entry{stamp, bound, std::move(decoded), ++uses_};
    trimLocked();
    return image;
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
        for (const auto& [path, entry] : images_) total += entry.decoded.image.sizeInBytes();
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
    for (const auto& [path, entry] : images_) live.insert(entry.decoded.image.cacheKey());
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
        const QSize bound = boundFor(sizes);
        for (const QString& path : paths) {
            QImage decoded = load(path, stampOf(path), bound, nullptr);
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
