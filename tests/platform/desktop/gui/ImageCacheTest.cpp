#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include <QApplication>
#include <QImage>
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
