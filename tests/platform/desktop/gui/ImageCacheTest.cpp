#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QTest>

#include "platform/desktop/ImageCache.h"
#include "platform/desktop/ImageView.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

namespace {

// Writes a one-colour PNG the way editors save: a new file renamed over the old one.
void writeImage(const std::filesystem::path& path, QSize size, QColor colour) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    const auto temp = path.string() + ".new.png";
    ASSERT_TRUE(image.save(QString::fromStdString(temp), "PNG"));
    std::filesystem::rename(temp, path);
}

}  // namespace

TEST(DesktopImageCache, DecodesEachFileOnceAndAgainWhenItChanges) {
    ensureApplication();
    testsupport::TempDir dir("ms-image-cache");
    const auto file = dir / "cover.png";
    const QString path = QString::fromStdString(file.string());
    writeImage(file, {40, 20}, Qt::red);
    desktop::ImageCache cache;

    QImage red = cache.image(path);
    EXPECT_EQ(red.size(), QSize(40, 20));
    EXPECT_EQ(cache.image(path).cacheKey(), red.cacheKey());
    EXPECT_EQ(cache.decodeCount(), 1);
    QImage picture = cache.scaled(red, {80, 40});
    EXPECT_EQ(picture.size(), QSize(80, 40));
    EXPECT_EQ(picture.pixelColor(40, 20), QColor(Qt::red));
    cache.scaled(red, {80, 40});
    EXPECT_EQ(cache.scaleCount(), 1);

    // Changed on disk: the next look decodes it again.
    writeImage(file, {30, 30}, Qt::blue);
    EXPECT_EQ(cache.image(path).pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_EQ(cache.decodeCount(), 2);

    // Prefetched: decoded (here: already current) and scaled for the view off this thread.
    cache.prefetch({path}, {QSize(60, 60)});
    cache.waitForPrefetch();
    EXPECT_EQ(cache.decodeCount(), 2);
    EXPECT_EQ(cache.scaleCount(), 2);

    // Changed while watched: decoded and scaled again in the background, before any show.
    writeImage(file, {20, 10}, Qt::green);
    EXPECT_TRUE(QTest::qWaitFor([&] { return cache.decodeCount() == 3; }, 10000));
    cache.waitForPrefetch();
    EXPECT_EQ(cache.scaleCount(), 3);
    QImage green = cache.image(path);
    EXPECT_EQ(green.pixelColor(0, 0), QColor(Qt::green));
    EXPECT_EQ(
        cache.scaled(green, desktop::ImageView::fittedRect(green.size(), {60, 60}).size()).size(),
        QSize(60, 30));
    EXPECT_EQ(cache.decodeCount(), 3);
    EXPECT_EQ(cache.scaleCount(), 3);

    // Gone: nothing to show, and nothing kept of it.
    std::filesystem::remove(file);
    EXPECT_TRUE(cache.image(path).isNull());
}

namespace {

// Lowers QImageReader's allocation limit for a test, so that modest pictures stand for a camera's.
class AllocationLimit {
  public:
    explicit AllocationLimit(int megabytes) : saved_(QImageReader::allocationLimit()) {
        QImageReader::setAllocationLimit(megabytes);
    }
    ~AllocationLimit() { QImageReader::setAllocationLimit(saved_); }

  private:
    int saved_;
};

}  // namespace

TEST(DesktopImageCache, PhotosPastTheAllocationLimitDecodeAtTheSizeTheScreensNeed) {
    ensureApplication();
    testsupport::TempDir dir("ms-image-large");
    // 4 MB: each picture below is past it at full size (4 bytes a pixel), as a 45 MP photo is
    // past the usual 128 MB.
    AllocationLimit limit(4);
    struct Case {
        const char* name;
        QSize size;
        QImageIOHandler::Transformations turn;
        QSize bound;
        QSize decoded;  // invalid: cannot be decoded
    };
    const Case cases[] = {
        {"wide.jpg", {2048, 1366}, QImageIOHandler::TransformationNone, {960, 540}, {809, 540}},
        {"square.png", {1500, 1500}, QImageIOHandler::TransformationNone, {960, 540}, {540, 540}},
        {"tall.jpg", {1200, 2400}, QImageIOHandler::TransformationNone, {640, 512}, {256, 512}},
        // Stored on its side with an orientation tag: fitted upright.
        {"turned.jpg",
         {2400, 1200},
         QImageIOHandler::TransformationRotate90,
         {640, 512},
         {256, 512}},
        // Smaller than the screens: never enlarged.
        {"small.png", {400, 200}, QImageIOHandler::TransformationNone, {960, 540}, {400, 200}},
        // No bound: decoded in full, which the limit refuses.
        {"full.png", {1500, 1500}, QImageIOHandler::TransformationNone, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = QString::fromStdString((dir / c.name).string());
        QImage picture(c.size, QImage::Format_RGB32);
        picture.fill(QColor(20, 200, 60));
        QImageWriter writer(path);
        writer.setTransformation(c.turn);
        ASSERT_TRUE(writer.write(picture)) << writer.errorString().toStdString();

        desktop::ImageCache cache;
        QString why;
        const QImage image = cache.image(path, c.bound, &why);
        if (!c.decoded.isValid()) {
            EXPECT_TRUE(image.isNull());
            EXPECT_FALSE(why.isEmpty());
            continue;
        }
        ASSERT_FALSE(image.isNull()) << why.toStdString();
        EXPECT_EQ(image.size(), c.decoded);
        const QColor middle = image.pixelColor(image.width() / 2, image.height() / 2);
        EXPECT_NEAR(middle.green(), 200, 8);
        // The same bound again comes from the cache.
        EXPECT_EQ(cache.image(path, c.bound).cacheKey(), image.cacheKey());
        EXPECT_EQ(cache.decodeCount(), 1);
    }
}

TEST(DesktopImageCache, UnreadableFilesAnswerWhy) {
    ensureApplication();
    testsupport::TempDir dir("ms-image-unreadable");
    const auto empty = dir / "empty.png";
    std::ofstream(empty).flush();
    const auto text = dir / "text.jpg";
    std::ofstream(text) << "not a picture at all\n";
    const auto truncated = dir / "truncated.png";
    {
        QImage picture(64, 64, QImage::Format_RGB32);
        picture.fill(Qt::red);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        ASSERT_TRUE(picture.save(&buffer, "PNG"));
        std::ofstream(truncated, std::ios::binary).write(bytes.constData(), 20);
    }
    struct Case {
        std::filesystem::path path;
        std::string why;  // a part of the reason
    };
    const Case cases[] = {
        {dir / "missing.png", "No such file"},
        {dir.path(), "not a regular file"},
        {empty, "empty"},
        {text, ""},
        {truncated, ""},
    };
    desktop::ImageCache cache;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        QString why;
        EXPECT_TRUE(
            cache.image(QString::fromStdString(c.path.string()), {1920, 1080}, &why).isNull());
        EXPECT_FALSE(why.isEmpty());
        EXPECT_NE(why.toStdString().find(c.why), std::string::npos) << why.toStdString();
    }
}
