#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <string>

#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/Screens.h"
#include "tests/support/QtSpin.h"

namespace {

struct Recorder : desktop::WindowEventHandler {
    std::string calls;
    void mouseDown() override { calls += "mouseDown "; }
    void keyDown() override { calls += "keyDown "; }
    bool performKeyEquivalent() override { return false; }
    void flagsChanged() override {}
};

// While the file dialog is open, a cover shown over everything still takes clicks and keys: the
// dialog blocks only the window that opened it.
TEST(DesktopOpenPanel, CoversTakeClicksAndKeysWhileTheDialogIsOpen) {
    ensureApplication();
    QWidget preferences;
    preferences.show();
    desktop::CoverWindow cover(desktop::Screens::system()->screens().at(1));
    Recorder recorder;
    cover.setEventHandler(&recorder);

    QTimer::singleShot(0, [&] {
        ASSERT_TRUE(spinUntil([] { return QApplication::activeModalWidget() != nullptr; }));
        cover.makeKeyAndOrderFront();
        QTest::mouseClick(cover.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
        QTest::keyClick(cover.windowHandle(), Qt::Key_Space);
        static_cast<QDialog*>(QApplication::activeModalWidget())->reject();
    });
    desktop::OpenPanel panel;
    EXPECT_EQ(panel.runModal(&preferences), std::nullopt);
    EXPECT_EQ(recorder.calls, "mouseDown keyDown ");
    cover.setEventHandler(nullptr);
    cover.orderOut();
}

}  // namespace
