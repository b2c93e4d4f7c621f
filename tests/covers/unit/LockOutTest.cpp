#include <gtest/gtest.h>

#include "EngineFixture.h"

using desktop::KeyEvent;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr std::uint32_t kKeysymA = 0x61;

}  // namespace

TEST(LockOutTapCallback, SwallowsKeyPressesAndPostsOnlyForCommandShiftH) {
    using M = KeyEvent::Modifier;
    struct Case {
        const char* what;
        KeyEvent::Type type;
        std::uint32_t keysym;
        std::uint32_t modifiers;
        bool passes;
        bool posts;
    };
    const Case cases[] = {
        {"ctrl+shift+h", KeyEvent::Type::keyDown, desktop::kKeysymH, M::control | M::shift, false,
         true},
        {"super+shift+h", KeyEvent::Type::keyDown, desktop::kKeysymH, M::super | M::shift, false,
         true},
        {"ctrl+alt+shift+h", KeyEvent::Type::keyDown, desktop::kKeysymH,
         M::control | M::alt | M::shift, false, true},
        {"with caps lock", KeyEvent::Type::keyDown, desktop::kKeysymH,
         M::control | M::shift | M::capsLock, false, true},
        {"shift+h", KeyEvent::Type::keyDown, desktop::kKeysymH, M::shift, false, false},
        {"ctrl+h", KeyEvent::Type::keyDown, desktop::kKeysymH, M::control, false, false},
        {"h", KeyEvent::Type::keyDown, desktop::kKeysymH, 0, false, false},
        {"ctrl+shift+a", KeyEvent::Type::keyDown, kKeysymA, M::control | M::shift, false, false},
        {"a", KeyEvent::Type::keyDown, kKeysymA, 0, false, false},
        {"release of ctrl+shift+h", KeyEvent::Type::keyUp, desktop::kKeysymH, M::control | M::shift,
         true, false},
        {"modifier change", KeyEvent::Type::flagsChanged, 0xffe1, M::shift, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        foundation::NotificationCenter center;
        int posts = 0;
        center.addObserver(mantleshade::kHideOverlayNotification, nullptr, [&] { ++posts; });
        KeyEvent event{c.type, c.keysym, c.modifiers};
        EXPECT_EQ(mantleshade::lockOutTapCallback(event, center), c.passes);
        EXPECT_EQ(posts, c.posts ? 1 : 0);
    }
}

TEST_F(EngineFixture, LockOutSetting) {
    struct Case {
        const char* what;
        std::optional<bool> lockOut;  // nullopt: key absent
        bool allowUserInteraction;
        bool tap;
    };
    const Case cases[] = {
        {"absent", std::nullopt, true, false},
        {"off", false, true, false},
        {"on", true, false, true},
    };
    store({sharedCover("/a.png")});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.lockOut)
            setLockOut(*c.lockOut);
        else
            ASSERT_TRUE(defaults->remove("LockOut"));
        for (bool blackout : {false, true}) {
            SCOPED_TRACE(blackout ? "blackout" : "cover");
            auto lines = blackout ? linesOf([&] {
                engine->blackout();
                drainMain();
            })
                                  : show(1);
            EXPECT_EQ(engine->allowUserInteraction(), c.allowUserInteraction);
            EXPECT_EQ(engine->eventTap() != nullptr, c.tap);
            EXPECT_EQ(engine->isObservingHideNotification(), c.tap);
            EXPECT_EQ(!lines.empty() && lines.back() == "✅ Event tap active", c.tap);
            if (c.tap) {
                EXPECT_TRUE(engine->eventTap()->isEnabled());
            }
        }
    }
}

TEST_F(EngineFixture, HideNotificationEndsLockOut) {
    setLockOut(true);
    engine->blackout();
    drainMain();
    ASSERT_NE(engine->eventTap(), nullptr);
    auto* tap = system->lastTap;
    // The tap's own callback posts on the engine's center.
    auto lines = linesOf([&] {
        tap->callback(KeyEvent{KeyEvent::Type::keyDown, desktop::kKeysymH,
                               KeyEvent::control | KeyEvent::shift});
        drainMain();
    });
    EXPECT_THAT(lines, ElementsAre("🔴 Hiding 2 windows"));
    EXPECT_EQ(engine->eventTap(), nullptr);
    EXPECT_FALSE(engine->isObservingHideNotification());
    const auto& log = *system->log;
    EXPECT_LT(log.indexOf("tap-disabled"), log.indexOf("tap-deleted"));
    // The observation is gone: covers shown without Lock Out ignore another post.
    setLockOut(false);
    engine->blackout();
    drainMain();
    EXPECT_THAT(linesOf([&] {
                    center.post(mantleshade::kHideOverlayNotification);
                    drainMain();
                }),
                IsEmpty());
    EXPECT_EQ(system->windows.size(), 2u);
}

TEST_F(EngineFixture, TwoShowsInARowLeaveOneTapAndOneObservation) {
    setLockOut(true);
    engine->blackout();
    drainMain();
    auto lines = linesOf([&] {
        engine->blackout();
        drainMain();
    });
    EXPECT_THAT(lines,
                ElementsAre("🔴 Hiding 2 windows", "Creating: Left (0.0, 0.0, 1920.0, 1080.0)",
                            "Creating: Right (1920.0, 0.0, 1280.0, 1024.0)", "✅ Event tap active"));
    EXPECT_EQ(system->tapsCreated, 2);
    // The first tap was disabled and released before the second was made.
    const auto& log = *system->log;
    std::vector<std::string> tapSteps;
    for (const auto& entry : log.entries)
        if (entry.rfind("tap-", 0) == 0) tapSteps.push_back(entry);
    EXPECT_THAT(tapSteps, ElementsAre("tap-created", "tap-disabled", "tap-deleted", "tap-created"));
    lines = linesOf([&] {
        center.post(mantleshade::kHideOverlayNotification);
        drainMain();
    });
    EXPECT_THAT(lines, ElementsAre("🔴 Hiding 2 windows"));
    // No observation is left behind: covers shown without Lock Out ignore the notification.
    setLockOut(false);
    engine->blackout();
    drainMain();
    center.post(mantleshade::kHideOverlayNotification);
    drainMain();
    EXPECT_EQ(system->windows.size(), 2u);
}

TEST_F(EngineFixture, StartLockOutTwiceKeepsOneObservation) {
    engine->blackout();
    drainMain();
    engine->startLockOut();
    engine->startLockOut();
    EXPECT_EQ(system->tapsCreated, 2);
    ASSERT_NE(engine->eventTap(), nullptr);
    EXPECT_TRUE(engine->eventTap()->isEnabled());
    engine->tearDownOverlays();
    EXPECT_FALSE(engine->isObservingHideNotification());
    // Nothing observes any more: a post with covers up leaves them up.
    engine->blackout();
    drainMain();
    center.post(mantleshade::kHideOverlayNotification);
    drainMain();
    EXPECT_EQ(system->windows.size(), 2u);
}

TEST_F(EngineFixture, HideEndsATapStartedWithoutACover) {
    engine->startLockOut();
    ASSERT_NE(engine->eventTap(), nullptr);
    EXPECT_THAT(linesOf([&] { engine->hideOverlays(); }), IsEmpty());
    EXPECT_EQ(engine->eventTap(), nullptr);
    EXPECT_FALSE(engine->isObservingHideNotification());
    const auto& log = *system->log;
    EXPECT_LT(log.indexOf("tap-disabled"), log.indexOf("tap-deleted"));
    EXPECT_FALSE(engine->isActive());
}

TEST_F(EngineFixture, TapThatCannotBeCreated) {
    system->tapAvailable = false;
    setLockOut(true);
    auto lines = linesOf([&] {
        engine->blackout();
        drainMain();
    });
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "❌ Event tap failed — need Accessibility permission");
    EXPECT_EQ(lines.back(), "no Accessibility permission");
    EXPECT_EQ(engine->eventTap(), nullptr);
    EXPECT_FALSE(engine->allowUserInteraction());
    // The observation stays, and the covers stay up.
    EXPECT_TRUE(engine->isObservingHideNotification());
    EXPECT_EQ(system->windows.size(), 2u);
    center.post(mantleshade::kHideOverlayNotification);
    drainMain();
    EXPECT_TRUE(system->windows.empty());
}

TEST_F(EngineFixture, RefusedGrabIsRetriedWhileTheCoversAreUp) {
    auto main = dispatch::Queue::main();
    auto idle = [&](std::chrono::milliseconds time) { main->runUntil([] { return false; }, time); };
    system->tapAvailable = false;
    system->tapFailure = {"keyboard held by another program; retrying", true};
    setLockOut(true);
    auto lines = linesOf([&] {
        engine->blackout();
        drainMain();
        // Retried quietly until the other program lets go.
        EXPECT_TRUE(
            main->runUntil([&] { return system->tapAttempts >= 3; }, std::chrono::seconds(5)));
        system->tapAvailable = true;
        EXPECT_TRUE(main->runUntil([&] { return engine->isKeyboardTapInForce(); },
                                   std::chrono::seconds(5)));
    });
    EXPECT_THAT(lines,
                ElementsAre("Creating: Left (0.0, 0.0, 1920.0, 1080.0)",
                            "Creating: Right (1920.0, 0.0, 1280.0, 1024.0)",
                            "❌ Event tap failed — need Accessibility permission",
                            "keyboard held by another program; retrying", "✅ Event tap active"));
    EXPECT_EQ(system->tapsCreated, 1);

    // Retrying ends with the covers, and never starts for a refusal that cannot change.
    for (bool retryable : {true, false}) {
        SCOPED_TRACE(retryable ? "hidden" : "not retryable");
        system->tapAvailable = false;
        system->tapFailure.retryable = retryable;
        system->tapAttempts = 0;
        linesOf([&] {
            engine->blackout();
            drainMain();
            if (retryable) engine->hideOverlays();
            idle(std::chrono::milliseconds(350));
        });
        EXPECT_EQ(system->tapAttempts, 1);
        engine->tearDownOverlays();
    }
}

TEST_F(EngineFixture, ShowThatOpensNoWindowDoesNotStartLockOut) {
    setLockOut(true);
    system->screenList.clear();
    auto lines = linesOf([&] {
        engine->blackout();
        drainMain();
    });
    EXPECT_THAT(lines, IsEmpty());
    EXPECT_EQ(system->tapsCreated, 0);
    EXPECT_FALSE(engine->isObservingHideNotification());
    EXPECT_FALSE(engine->allowUserInteraction());
}

// Input on a cover window.
TEST_F(EngineFixture, WindowInputRules) {
    enum class Input { mouse, key, keyEquivalent, modifier };
    struct Case {
        const char* what;
        bool lockOut;
        bool tapAvailable;  // false: the grab fails, so no tap is in force
        Input input;
        bool hides;
    };
    const Case cases[] = {
        {"click", false, true, Input::mouse, true},
        {"key", false, true, Input::key, true},
        {"key equivalent", false, true, Input::keyEquivalent, true},
        {"modifier", false, true, Input::modifier, true},
        {"locked click", true, true, Input::mouse, false},
        {"locked key", true, true, Input::key, false},
        {"locked key equivalent", true, true, Input::keyEquivalent, false},
        {"locked modifier", true, true, Input::modifier, false},
        {"untrusted click", true, false, Input::mouse, false},
        {"untrusted key", true, false, Input::key, false},
        {"untrusted modifier", true, false, Input::modifier, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        setLockOut(c.lockOut);
        system->tapAvailable = c.tapAvailable;
        system->trusted = true;
        engine->blackout();
        drainMain();
        ASSERT_EQ(system->windows.size(), 2u);
        auto* handler = system->windows[1]->handler;
        ASSERT_NE(handler, nullptr);
        auto lines = linesOf([&] {
            switch (c.input) {
                case Input::mouse:
                    handler->mouseDown();
                    break;
                case Input::key:
                    handler->keyDown();
                    break;
                case Input::keyEquivalent:
                    // As the window delivers it: offered as an equivalent, then as a key press.
                    if (!handler->performKeyEquivalent()) handler->keyDown();
                    break;
                case Input::modifier:
                    handler->flagsChanged();
                    break;
            }
            // Never torn down inside the event handling itself.
            EXPECT_EQ(system->windows.size(), 2u);
            drainMain();
        });
        if (c.hides) {
            // Every cover goes, not only the clicked one; a second hide finds nothing.
            EXPECT_THAT(lines, ElementsAre("🔴 Hiding 2 windows"));
            EXPECT_TRUE(system->windows.empty());
        } else {
            EXPECT_THAT(lines, IsEmpty());
            EXPECT_EQ(system->windows.size(), 2u);
            engine->tearDownOverlays();
        }
    }
}

TEST_F(EngineFixture, WindowWhoseEngineIsGoneIgnoresInput) {
    auto screen = system->screenList[0];
    auto window = engine->makeOverlayWindow(screen, mantleshade::OverlayContent::blackout());
    EXPECT_FALSE(window->overlay.expired());
    engine.reset();
    EXPECT_TRUE(window->overlay.expired());
    auto lines = linesOf([&] {
        window->mouseDown();
        window->keyDown();
        EXPECT_FALSE(window->performKeyEquivalent());
        window->flagsChanged();
        drainMain();
    });
    EXPECT_THAT(lines, IsEmpty());
    EXPECT_TRUE(window->canBecomeKeyWindow());
    EXPECT_TRUE(window->canBecomeMainWindow());
    EXPECT_TRUE(window->acceptsFirstResponder());
}
