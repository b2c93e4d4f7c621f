#include <gtest/gtest.h>

#include "platform/desktop/ImageView.h"
#include "platform/desktop/Rect.h"
#include "platform/desktop/Screens.h"
#include "platform/desktop/VideoView.h"

TEST(Rect, DescriptionHasAFractionalPartOnEveryNumber) {
    struct Case {
        desktop::Rect rect;
        const char* text;
    };
    const Case cases[] = {
        {{0, 0, 1920, 1080}, "(0.0, 0.0, 1920.0, 1080.0)"},
        {{1920, 0, 1280, 1024}, "(1920.0, 0.0, 1280.0, 1024.0)"},
        {{-1280, -24.5, 0.25, 3}, "(-1280.0, -24.5, 0.25, 3.0)"},
        {{1e20, 0, 0, 0}, "(1e+20, 0.0, 0.0, 0.0)"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.rect.description(), c.text);
}

TEST(Screens, DisplayIdIsTheFnv1aHashOfTheName) {
    struct Case {
        const char* name;
        std::uint32_t hash;
    };
    // Reference values of 32-bit FNV-1a.
    const Case cases[] = {
        {"", 0x811c9dc5u},
        {"a", 0xe40c292cu},
        {"foobar", 0xbf9cf968u},
    };
    for (const Case& c : cases) EXPECT_EQ(desktop::fnv1a32(c.name), c.hash) << c.name;
    EXPECT_EQ(desktop::displayIDForScreenName(""), std::nullopt);
    EXPECT_EQ(desktop::displayIDForScreenName("a"), 0xe40c292cu);
    EXPECT_NE(desktop::displayIDForScreenName("HDMI-1"), desktop::displayIDForScreenName("HDMI-2"));
}

TEST(ImageView, FitsInsideAndCentres) {
    struct Case {
        QSize image, view;
        QRect expected;
    };
    const Case cases[] = {
        {{400, 200}, {1920, 1080}, {0, 60, 1920, 960}},
        {{300, 400}, {1920, 1080}, {555, 0, 810, 1080}},
        {{1920, 1080}, {1920, 1080}, {0, 0, 1920, 1080}},
        {{4, 2}, {1280, 1024}, {0, 192, 1280, 640}},         // scaled up
        {{8000, 8000}, {1280, 1024}, {128, 0, 1024, 1024}},  // scaled down
        {{0, 0}, {1920, 1080}, {}},
        {{400, 200}, {0, 0}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(desktop::ImageView::fittedRect(c.image, c.view), c.expected)
            << c.image.width() << "x" << c.image.height();
}

TEST(VideoView, FillsAndCropsTheOverflow) {
    struct Case {
        QSize frame, view;
        QRect expected;
    };
    const Case cases[] = {
        {{160, 90}, {1920, 1080}, {0, 0, 1920, 1080}},
        {{160, 120}, {1920, 1080}, {0, -180, 1920, 1440}},
        {{160, 90}, {1280, 1024}, {-270, 0, 1820, 1024}},
        {{90, 160}, {1920, 1080}, {0, -1166, 1920, 3413}},
        {{0, 0}, {1920, 1080}, {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(desktop::VideoView::filledRect(c.frame, c.view), c.expected)
            << c.frame.width() << "x" << c.frame.height();
}
