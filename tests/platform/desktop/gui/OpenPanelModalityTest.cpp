#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <string>
#include <vector>

#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/OpenPanel.h"
#include "platform/desktop/Screens.h"
#include "tests/support/QtSpin.h"

namespace {

struct Recorder : desktop::WindowEventHandler {
    std::vector<std::string> calls;
    void mouseDown() override { calls.push_back("mouseDown"); }
    void keyDown() override { calls.push_back("keyDown"); }
    bool performKeyEquivalent() override { return false; }
    void flagsChanged() override {}
};

// While the file dialog is open, a cover shown over everything still takes clicks and keys: the
// dialog blocks only the window that opened it.
TEST(DesktopOpenPanel, CoversTakeClicksAndKeysWhileTheDialogIsOpen) {
    ensureApplication();
    QWidget preferences;
    preferences.resize(400, 300);
    preferences.show();
    desktop::CoverWindow cover(desktop::Screens::system()->screens().at(1));
    Recorder recorder;
    cover.setEventHandler(&recorder);

    Qt::WindowModality modality = Qt::NonModal;
    std::function<void()> whileOpen = [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible()) {
            QTimer::singleShot(10, whileOpen);
            return;
        }
        modality = dialog->windowModality();
        cover.makeKeyAndOrderFront();
        QTest::mouseClick(cover.windowHandle(), Qt::LeftButton, {}, QPoint(50, 50));
        QTest::keyClick(cover.windowHandle(), Qt::Key_Space);
        static_cast<QDialog*>(dialog)->reject();
    };
    QTimer::singleShot(0, whileOpen);
    desktop::OpenPanel panel;
    EXPECT_EQ(panel.runModal(&preferences), std::nullopt);
    EXPECT_EQ(modality, Qt::WindowModal);
    EXPECT_EQ(recorder.calls, (std::vector<std::string>{"mouseDown", "keyDown"}));
    cover.setEventHandler(nullptr);
    cover.orderOut();
}

}  // namespace
