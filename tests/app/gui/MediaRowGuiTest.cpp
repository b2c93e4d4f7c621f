#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "FakePreferencesServices.h"
#include "app/MediaRow.h"
#include "app/VideoThumbnailView.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

using mantleshade::MediaRow;
using mantleshade::VideoThumbnailView;

namespace {

class MediaRowGuiTest : public ::testing::Test {
  protected:
    void SetUp() override { ensureApplication(); }

    static std::string data(const std::string& name) {
        return std::string(MS_TEST_DATA_DIR) + "/" + name;
    }
    std::string copy(const std::string& name, const std::string& as) {
        std::filesystem::copy_file(data(name), dir / as);
        return (dir / as).string();
    }
    static QAbstractButton* button(MediaRow& row, const char* name) {
        return row.findChild<QAbstractButton*>(name);
    }
    static QLabel* detail(MediaRow& row) { return row.findChild<QLabel*>("mediaRowDetail"); }

    testsupport::TempDir dir{"ms-mediarow"};
};

}  // namespace

TEST_F(MediaRowGuiTest, ShowsTheAssignmentAsStored) {
    using Thumb = MediaRow::Thumbnail;
    using Style = MediaRow::DetailStyle;
    const std::string png = copy("red-blue-400x200.png", "picture.png");
    const std::string jpg = copy("green-300x400.jpg", "photo.JPG");
    const std::string mov = copy("loop-160x120.mov", "clip.MOV");
    const std::string gone = (dir / "deleted.png").string();
    const std::string notImage = data("not-an-image.png");
    struct Case {
        const char* what;
        std::optional<std::string> path;
        QString text;
        Style style;
        Thumb thumbnail;
    };
    const Case cases[] = {
        {"none", std::nullopt, "No media assigned", Style::tertiary, Thumb::none},
        {"png", png, "picture.png", Style::secondary, Thumb::image},
        {"jpeg in capitals", jpg, "photo.JPG", Style::secondary, Thumb::image},
        {"video in capitals", mov, "clip.MOV", Style::secondary, Thumb::video},
        {"deleted image", gone, "deleted.png", Style::missing, Thumb::none},
        {"not an image", notImage, "not-an-image.png", Style::secondary, Thumb::none},
        {"missing video", (dir / "gone.mp4").string(), "gone.mp4", Style::missing, Thumb::video},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MediaRow::Config config;
        config.label = "All Screens";
        config.icon = "photo";
        if (c.path) config.mediaPath = foundation::URL::fileURL(*c.path);
        MediaRow row(config);
        row.show();
        EXPECT_EQ(detail(row)->toolTip(), c.text);
        EXPECT_EQ(row.currentDetailStyle(), c.style);
        EXPECT_EQ(row.currentThumbnail(), c.thumbnail);
        EXPECT_EQ(detail(row)->palette().color(QPalette::WindowText) == QColor(Qt::red),
                  c.style == Style::missing);
        EXPECT_EQ(row.findChild<QLabel*>("mediaRowTitle")->text(), "All Screens");
        // With media: folder and trash; without: Browse… only.
        EXPECT_EQ(button(row, "mediaRowReveal")->isVisibleTo(&row), c.path.has_value());
        EXPECT_EQ(button(row, "mediaRowRemove")->isVisibleTo(&row), c.path.has_value());
        EXPECT_EQ(button(row, "mediaRowBrowse")->isVisibleTo(&row), !c.path.has_value());
        EXPECT_EQ(row.videoThumbnail() != nullptr, c.thumbnail == Thumb::video);
        const QLabel* image = row.findChild<QLabel*>("mediaRowThumbnail");
        EXPECT_EQ(!image->pixmap().isNull() && image->isVisibleTo(&row),
                  c.thumbnail == Thumb::image);
    }
}

TEST_F(MediaRowGuiTest, ButtonsCallTheirActions) {
    std::vector<std::string> calls;
    MediaRow::Config config;
    config.label = "Left";
    config.icon = "display";
    config.onBrowse = [&] { calls.push_back("browse"); };
    config.onReveal = [&] { calls.push_back("reveal"); };
    config.onRemove = [&] { calls.push_back("remove"); };
    MediaRow row(config);
    row.show();
    button(row, "mediaRowBrowse")->click();
    config.mediaPath = foundation::URL::fileURL(data("red-blue-400x200.png"));
    row.setConfig(config);
    button(row, "mediaRowReveal")->click();
    button(row, "mediaRowRemove")->click();
    EXPECT_EQ(calls, (std::vector<std::string>{"browse", "reveal", "remove"}));
}

TEST_F(MediaRowGuiTest, LongNamesAreShortenedInTheMiddle) {
    const std::string name(120, 'a');
    MediaRow::Config config;
    config.label = "All Screens";
    config.icon = "photo";
    config.mediaPath = foundation::URL::fileURL("/nowhere/" + name + ".mp4");
    MediaRow row(config);
    row.resize(300, 80);
    row.show();
    QTest::qWait(10);
    const QString shown = detail(row)->text();
    EXPECT_LT(shown.size(), static_cast<int>(name.size()));
    EXPECT_TRUE(shown.endsWith(".mp4")) << shown.toStdString();
    EXPECT_TRUE(shown.contains(QChar(0x2026)));
}

TEST_F(MediaRowGuiTest, VideoThumbnails) {
    const std::string fakeVideo = (dir / "fake.mp4").string();
    std::ofstream(fakeVideo) << "not a movie";
    struct Case {
        const char* what;
        std::string path;
        bool framed;
    };
    const Case cases[] = {
        {"mp4", data("loop-160x90.mp4"), true},
        {"mov", data("loop-160x120.mov"), true},
        {"not a video", fakeVideo, false},
        {"missing", (dir / "missing.mov").string(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        VideoThumbnailView view(QString::fromStdString(c.path));
        view.show();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.isFinished(); },
                                    VideoThumbnailView::kTimeoutMs + 5000));
        EXPECT_EQ(view.thumbnail().has_value(), c.framed);
        if (view.thumbnail()) {
            EXPECT_LE(view.thumbnail()->width(), 96);
            EXPECT_LE(view.thumbnail()->height(), 96);
            EXPECT_GT(view.thumbnail()->width(), 0);
        }
        EXPECT_EQ(view.size(), QSize(48, 48));
    }
}

TEST_F(MediaRowGuiTest, VideoFrameIsKeptWhileThePathStays) {
    MediaRow::Config config;
    config.label = "All Screens";
    config.icon = "video";
    config.mediaPath = foundation::URL::fileURL(data("loop-160x90.mp4"));
    MediaRow row(config);
    VideoThumbnailView* first = row.videoThumbnail();
    ASSERT_NE(first, nullptr);
    config.label = "Renamed";
    row.setConfig(config);
    EXPECT_EQ(row.videoThumbnail(), first);
    config.mediaPath = foundation::URL::fileURL(data("loop-160x120.mov"));
    row.setConfig(config);
    ASSERT_NE(row.videoThumbnail(), nullptr);
    EXPECT_EQ(row.videoThumbnail()->path().toStdString(), data("loop-160x120.mov"));
    config.mediaPath.reset();
    row.setConfig(config);
    EXPECT_EQ(row.videoThumbnail(), nullptr);
}

TEST_F(MediaRowGuiTest, ThumbnailImagesAreDecodedNearTheirShownSize) {
    const std::pair<std::string, QSize> cases[] = {
        {"red-blue-400x200.png", QSize(192, 96)},
        {"green-300x400.jpg", QSize(96, 128)},
    };
    for (const auto& [name, size] : cases)
        EXPECT_EQ(MediaRow::loadThumbnailImage(QString::fromStdString(data(name)), 48).size(), size)
            << name;
    EXPECT_TRUE(MediaRow::loadThumbnailImage(QString::fromStdString(data("not-an-image.png")), 48)
                    .isNull());
}

TEST_F(MediaRowGuiTest, FilledThumbnailCropsToTheCentre) {
    // Left half red, right half blue, twice as wide as high: the centre column shows both.
    QImage wide(200, 100, QImage::Format_RGB32);
    wide.fill(Qt::red);
    for (int y = 0; y < 100; ++y)
        for (int x = 100; x < 200; ++x) wide.setPixelColor(x, y, Qt::blue);
    const QImage thumb = MediaRow::filledThumbnail(wide, 48).toImage();
    ASSERT_EQ(thumb.size(), QSize(48, 48));
    EXPECT_EQ(thumb.pixelColor(12, 24), QColor(Qt::red));
    EXPECT_EQ(thumb.pixelColor(36, 24), QColor(Qt::blue));
    EXPECT_EQ(thumb.pixelColor(0, 0).alpha(), 0);  // rounded corner
}
