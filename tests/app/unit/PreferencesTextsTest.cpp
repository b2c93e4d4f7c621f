#include <gtest/gtest.h>

#include "app/PreferencesTexts.h"
#include "app/SystemSymbol.h"
#include "platform/foundation/Localization.h"

using mantleshade::PreferencesTexts;

TEST(PreferencesTextsTest, InlineMarkdown) {
    const std::pair<QString, QString> cases[] = {
        {"a **b** c", "a <b>b</b> c"},
        {QString::fromUtf8("**Command ⌘ + Shift ⇧ + H**."),
         QString::fromUtf8("<b>Command ⌘ + Shift ⇧ + H</b>.")},
        {"x < y & **z**", "x &lt; y &amp; <b>z</b>"},
        {"*it* and **bold**", "<i>it</i> and <b>bold</b>"},
        {"a ** b", "a ** b"},
        {"****", "****"},
        {"<b>**</b>", "&lt;b&gt;**&lt;/b&gt;"},
        {"**<i>**", "<b>&lt;i&gt;</b>"},
        {"", ""},
    };
    for (const auto& [text, html] : cases)
        EXPECT_EQ(PreferencesTexts::inlineMarkdownToHtml(text), html) << text.toStdString();
}

TEST(PreferencesTextsTest, KeysShowAsTheyStandUnlessTranslated) {
    EXPECT_EQ(PreferencesTexts::text("Apply"), "Apply");
    EXPECT_EQ(PreferencesTexts::text("Version ", "1.0"), "Version 1.0");
    // The keys that name another platform read in Linux words; the keys themselves stay.
    // The taskbar holds windows, not applications: only the Preferences window's entry changes.
    EXPECT_EQ(PreferencesTexts::text("Show icon in Dock"),
              "Show the Preferences window in the taskbar");
    EXPECT_FALSE(
        PreferencesTexts::text("Lock Out - Disable all interactions with the Mac").contains("Mac"));
    // No prompt exists on Linux: the note must not promise one.
    EXPECT_FALSE(
        PreferencesTexts::text("Lock Out requires Accessibility permission from macOS. You "
                               "will be prompted to grant this permission the first time "
                               "the feature is used.")
            .contains("prompted"));

    foundation::setLocalizationProvider(
        [](const std::string& table, const std::string& key) -> std::optional<std::string> {
            if (table == PreferencesTexts::kTable && key == "Apply") return "Anwenden";
            return std::nullopt;
        });
    EXPECT_EQ(PreferencesTexts::text("Apply"), "Anwenden");
    EXPECT_EQ(PreferencesTexts::text("OSC Port:"), "OSC Port:");
    foundation::setLocalizationProvider({});
}

TEST(PreferencesTextsTest, EverySymbolHasAShippedIcon) {
    for (const char* name :
         {"photo", "video", "laptopcomputer", "display", "folder", "trash", "film"}) {
        EXPECT_FALSE(mantleshade::SystemSymbol::fallback(name).isNull()) << name;
        EXPECT_FALSE(mantleshade::SystemSymbol::themeName(name).isEmpty()) << name;
    }
    EXPECT_TRUE(mantleshade::SystemSymbol::fallback("nonsense").isNull());
}
