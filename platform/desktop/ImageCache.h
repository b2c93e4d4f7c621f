#pragma once

#include <QFileSystemWatcher>
#include <QImage>
#include <QPointer>
#include <QSize>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <utility>
#include <vector>

namespace dispatch {
class Queue;
}

namespace desktop {

// A picture read from a file: the image (null when it cannot be read, with the reason in `why`)
// and the size the file stores it at (invalid when unknown).
struct DecodedImage {
    QImage image;
    QSize fullSize;
    QString why;
};

// The image in the regular file at `path`, decoded straight at a size that fits within `bound`
// (aspect kept; never enlarged; an empty bound decodes at full size). Fails for a missing file,
// one that is not a regular file, an empty one, one that is not an image or one too large. Never
// blocks on a FIFO or a device. Any thread.
DecodedImage decodeImageFile(const QString& path, const QSize& bound = {});

// The size a picture of `size` is decoded at to fit within `bound`: `size` itself when it fits.
QSize decodeSize(const QSize& size, const QSize& bound);

// Decoded cover images by file, and their pictures scaled for the views that show them, so that
// a show only paints. Files are decoded ahead on a background queue (prefetch) and again there
// when they change; a file found changed at a show is decoded at once. Thread-safe; the file
// watching lives on the main thread.
class ImageCache {
  public:
    static ImageCache& shared();

    ImageCache();
    ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    // The decoded file at a size that fits within `bound` (see decodeImageFile), from the cache
    // while the file on disk is unchanged; a null image with the reason in `why` when it cannot be
    // read.
    QImage image(const QString& path, const QSize& bound = {}, QString* why = nullptr);
    // The bound that fits every view of `viewSizes`: the widest width and the tallest height.
    static QSize boundFor(const std::vector<QSize>& viewSizes);
    // `image` at exactly `size`, composed on black, in the backing store's format; made once per
    // image and size.
    QImage scaled(const QImage& image, const QSize& size);

    // Decodes `paths` on the background queue and scales them for views of `viewSizes`; these
    // become the files kept and watched (others are let go). Main thread.
    void prefetch(std::vector<QString> paths, std::vector<QSize> viewSizes);
    // Waits until the background work queued so far is done (tests, benchmarks).
    void waitForPrefetch();

    // Counters for tests: files decoded, pictures scaled.
    int decodeCount() const;
    int scaleCount() const;

  private:
    struct Stamp {
        bool exists = false;
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const Stamp&) const = default;
    };
    struct Entry {
        Stamp stamp;
        QSize bound;
        DecodedImage decoded;
        std::uint64_t lastUse = 0;
    };
    using ScaledKey = std::pair<qint64, std::pair<int, int>>;

    static Stamp stampOf(const QString& path);
    // Decodes unless the cache holds the file as it is on disk; answers the image either way.
    QImage load(const QString& path, const Stamp& stamp, const QSize& bound, QString* why);
    void trimLocked();
    void dropOrphansLocked();
    void fileChanged(const QString& path);
    void decodeAhead(const std::vector<QString>& paths);

    mutable std::mutex mutex_;
    std::map<QString, Entry> images_;
    std::map<ScaledKey, QImage> scaled_;
    std::set<QString> wanted_;
    std::vector<QSize> viewSizes_;
    std::uint64_t uses_ = 0;
    int decodes_ = 0;
    int scales_ = 0;

    std::shared_ptr<dispatch::Queue> queue_;
    QPointer<QFileSystemWatcher> watcher_;  // main thread
};

}  // namespace desktop
