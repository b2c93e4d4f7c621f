// What the Preferences window shows at its own width: nothing a user needs is cut off.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTabWidget>
#include <QTest>

#include "FakePreferencesServices.h"
#include "app/BehaviourTab.h"
#include "app/ConnectedMonitorsView.h"
#include "app/CoverEditor.h"
#include "app/CoverEditorView.h"
#include "app/MediaRow.h"
#include "app/PreferencesSettings.h"
#include "app/PreferencesView.h"
#include "app/VideoThumbnailView.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/QtSpin.h"
#include "tests/support/TempDir.h"

using mantleshade::MediaRow;
using mantleshade::PreferencesView;

namespace {

class PreferencesLayoutGuiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        services.screenList = testsupport::twoScreens();
    }

    std::unique_ptr<PreferencesView> openMediaTab(std::vector<mantleshade::OverlayData> list) {
        defaults->set("overlays", mantleshade::OverlayData::encodeList(list));
        auto view = std::make_unique<PreferencesView>(services, *defaults, nullptr);
        view->show();
        view->tabs()->setCurrentIndex(1);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
        QTest::qWait(20);
        return view;
    }

    // Whether the closed picker has room for its whole current text.
    static bool pickerShowsItsWholeText(QComboBox* picker) {
        QStyleOptionComboBox option;
        option.initFrom(picker);
        option.editable = false;
        const QRect field = picker->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                            QStyle::SC_ComboBoxEditField, picker);
        return picker->fontMetrics().horizontalAdvance(picker->currentText()) <= field.width();
    }

    static foundation::URL data(const char* name) {
        return foundation::URL::fileURL(std::string(MS_TEST_DATA_DIR) + "/" + name);
    }

    testsupport::TempDir dir{"ms-prefs-layout"};
    std::unique_ptr<foundation::UserDefaults> defaults =
        foundation::UserDefaults::openAt(dir / "defaults.json");
    testsupport::FakePreferencesServices services;
};

}  // namespace

TEST_F(PreferencesLayoutGuiTest, MonitorRowsHoldTheirWholeThumbnail) {
    auto list = mantleshade::PreferencesSettings::makeDefaultOverlays();
    list[0].useSameMediaForAllScreens = false;
    list[0].screenMedia["101"].path = data("red-blue-400x200.png");
    list[0].screenMedia["202"].path = data("loop-160x90.mp4");
    services.choices = {data("green-300x400.jpg")};
    auto view = openMediaTab(list);
    auto* monitors = view->mediaTab()->monitorsView();

    auto check = [&](const char* when) {
        SCOPED_TRACE(when);
        QTest::qWait(20);
        ASSERT_EQ(monitors->rows().size(), 2u);
        for (int i = 0; i < 2; ++i) {
            SCOPED_TRACE(i);
            MediaRow* row = monitors->rows()[static_cast<std::size_t>(i)];
            const QRect item = monitors->list()->visualItemRect(monitors->list()->item(i));
            // 48 points of thumbnail and 8 of padding above and below.
            EXPECT_GE(item.height(), 64);
            EXPECT_GE(row->height(), 64);
            QWidget* thumbnail = row->videoThumbnail();
            if (!thumbnail) thumbnail = row->findChild<QWidget*>("mediaRowThumbnail");
            ASSERT_NE(thumbnail, nullptr);
            EXPECT_EQ(thumbnail->size(), QSize(48, 48));
            const QRect inRow(thumbnail->mapTo(row, QPoint(0, 0)), thumbnail->size());
            EXPECT_TRUE(row->rect().adjusted(8, 8, -8, -8).contains(inRow))
                << inRow.y() << "+" << inRow.height() << " in " << row->height();
        }
    };
    check("fresh open");
    // Browse… on the emptied left row assigns a new image.
    view->coverEditor().removeScreenMedia("101");
    view->coverEditor().assignScreenMedia("101");
    view->refresh();
    check("after Browse…");
}

TEST_F(PreferencesLayoutGuiTest, ClosedPickerShowsItsWholeLabel) {
    auto list = mantleshade::PreferencesSettings::makeDefaultOverlays();
    list[0].name = "Stage";
    list[2].name = "Interval slide";
    auto view = openMediaTab(list);
    QComboBox* picker = view->mediaTab()->picker();
    for (int index : {0, 2, 3}) {
        picker->setCurrentIndex(index);
        QTest::qWait(10);
        EXPECT_TRUE(pickerShowsItsWholeText(picker)) << picker->currentText().toStdString();
    }
    // It follows name edits.
    picker->setCurrentIndex(2);
    QLineEdit* name = view->mediaTab()->nameField();
    name->setFocus();
    name->selectAll();
    QTest::keyClicks(name, "Interval slides for the second half");
    QTest::qWait(20);
    EXPECT_EQ(picker->currentText(),
              "Cover (ID 3): Interval slides for the second half (No Media)");
    EXPECT_TRUE(pickerShowsItsWholeText(picker));
    // A name too long for the window is shortened; the ID and the suffix always show.
    const QString longName(120, QLatin1Char('x'));
    name->selectAll();
    QTest::keyClicks(name, longName);
    QTest::qWait(20);
    const QString shown = picker->currentText();
    EXPECT_TRUE(shown.startsWith("Cover (ID 3): x")) << shown.toStdString();
    EXPECT_TRUE(shown.endsWith(QString::fromUtf8("… (No Media)"))) << shown.toStdString();
    EXPECT_TRUE(pickerShowsItsWholeText(picker));
    EXPECT_LE(picker->geometry().right(), view->mediaTab()->width());
}

TEST_F(PreferencesLayoutGuiTest, LockOutRowShowsItsWholeLabelWithThePermissionHint) {
    services.trusted = false;  // as on Wayland: the hint and the button show beside the toggle
    auto view = std::make_unique<PreferencesView>(services, *defaults, nullptr);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    QCheckBox* toggle = view->behaviourTab()->lockOutToggle();
    EXPECT_GE(toggle->width(), toggle->sizeHint().width()) << toggle->text().toStdString();
    QWidget* button = view->behaviourTab()->permissionButton();
    EXPECT_LE(button->mapTo(view.get(), QPoint(button->width(), 0)).x(), view->width());
}
