#include <gtest/gtest.h>

#include "platform/desktop/FileReveal.h"
#include "platform/desktop/OpenPanel.h"

using desktop::ContentType;
using desktop::OpenPanel;

TEST(OpenPanelTest, NameFiltersOfferEveryTypeTogetherFirst) {
    const QStringList filters =
        OpenPanel::nameFilters({ContentType::pngImage, ContentType::jpegImage, ContentType::movie,
                                ContentType::mpeg4Movie});
    ASSERT_EQ(filters.size(), 5);
    EXPECT_EQ(filters[0],
              "Images and movies (*.png *.PNG *.jpg *.jpeg *.JPG *.JPEG *.mov *.mp4 *.m4v *.avi "
              "*.MOV *.MP4 *.M4V *.AVI)");
    EXPECT_EQ(filters[1], "PNG image (*.png *.PNG)");
    EXPECT_EQ(filters[2], "JPEG image (*.jpg *.jpeg *.JPG *.JPEG)");
    EXPECT_EQ(filters[4], "MPEG-4 movie (*.mp4 *.m4v *.MP4 *.M4V)");
    EXPECT_EQ(OpenPanel::nameFilters({ContentType::pngImage}),
              QStringList{"PNG image (*.png *.PNG)"});
    EXPECT_TRUE(OpenPanel::nameFilters({}).isEmpty());
}

TEST(OpenPanelTest, RevealNamesTheFileAndItsFolder) {
    const std::pair<std::string, std::pair<QString, QString>> cases[] = {
        {"/media/a b.png", {"file:///media/a%20b.png", "/media"}},
        {"/m/100%.mov", {"file:///m/100%25.mov", "/m"}},
        {"/x/ü#1.jpg", {"file:///x/%C3%BC%231.jpg", "/x"}},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(desktop::FileReveal::fileURI(path), expected.first) << path;
        EXPECT_EQ(desktop::FileReveal::folderURL(path).toLocalFile(), expected.second) << path;
    }
}
