#include <gtest/gtest.h>

#include "app/ListeningStatus.h"

using mantleshade::ListeningStatus;

TEST(ListeningStatusTest, DotColour) {
    using Color = ListeningStatus::Color;
    struct Case {
        bool listening;
        std::optional<std::int64_t> current;
        std::int64_t port;
        Color expected;
    };
    const Case cases[] = {
        {false, std::nullopt, 5000, Color::red},   {false, 5000, 5000, Color::red},
        {true, 5000, 5000, Color::green},          {true, 5000, 6000, Color::orange},
        {true, std::nullopt, 5000, Color::orange}, {true, 0, 0, Color::green},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ListeningStatus::listeningStatusColor(c.listening, c.current, c.port),
                  c.expected);
}

TEST(ListeningStatusTest, ApplyIsDisabledOnlyOnTheListeningPort) {
    EXPECT_FALSE(ListeningStatus::applyEnabled(5000, 5000));
    EXPECT_TRUE(ListeningStatus::applyEnabled(5000, 5001));
    EXPECT_TRUE(ListeningStatus::applyEnabled(std::nullopt, 5000));
}

TEST(ListeningStatusTest, PortsShowWithoutGroupingInEveryLocale) {
    for (const char* name : {"C", "en_US", "de_DE", "fr_FR", "hi_IN", "ar_EG", "fa_IR", "ru_RU"}) {
        SCOPED_TRACE(name);
        const QLocale locale(QString::fromLatin1(name));
        for (std::int64_t port : {0, 5000, 12345, 65535}) {
            const QString text = ListeningStatus::formatPort(port, locale);
            EXPECT_FALSE(text.contains(locale.groupSeparator())) << text.toStdString();
            EXPECT_EQ(ListeningStatus::parsePort(text, locale), port);
        }
    }
    EXPECT_EQ(ListeningStatus::formatPort(5000, QLocale("en_US")), "5000");
    EXPECT_EQ(ListeningStatus::statusText(5000, QLocale("en_US")), "Listening on Port 5000");
}

TEST(ListeningStatusTest, OnlyPortsParse) {
    const QLocale locale("en_US");
    for (const char* text : {"65536", "-1", "-5", "+5", "-0", "abc", "", "5,000", "50.5",
                             "99999999999999999999", "5 000"})
        EXPECT_EQ(ListeningStatus::parsePort(text, locale), std::nullopt) << text;
    EXPECT_EQ(ListeningStatus::parsePort(" 8000 ", locale), 8000);
    EXPECT_EQ(ListeningStatus::parsePort("5.000", QLocale("de_DE")), std::nullopt);
}
