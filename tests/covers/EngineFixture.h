#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FakeWindowSystem.h"
#include "covers/FullscreenImageOverlay.h"
#include "covers/OverlayData.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"
#include "platform/foundation/UserDefaults.h"
#include "tests/support/TempDir.h"

// An engine on fake screens with its own defaults file and notification center.
class EngineFixture : public ::testing::Test {
  public:
    using Engine = mantleshade::FullscreenImageOverlay;
    using OverlayData = mantleshade::OverlayData;

    void SetUp() override {
        drainMain();  // nothing left over from an earlier test
        defaults = foundation::UserDefaults::openAt(dir.path() / "defaults.json");
        system = std::make_shared<fakes::FakeWindowSystem>();
        engine = Engine::create(system, defaults.get(), &center);
    }
    void TearDown() override {
        engine.reset();
        drainMain();
    }

    static void drainMain() {
        for (int i = 0; i < 100 && dispatch::Queue::main()->drain() > 0; ++i) {
        }
    }

    // Standard output lines printed while `action` runs.
    static std::vector<std::string> linesOf(const std::function<void()>& action) {
        ::testing::internal::CaptureStdout();
        action();
        std::string text = ::testing::internal::GetCapturedStdout();
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    static OverlayData::MediaItem item(const std::string& path) {
        OverlayData::MediaItem media;
        media.path = foundation::URL::fileURL(path);
        return media;
    }
    static OverlayData sharedCover(const std::string& path) {
        OverlayData cover;
        cover.sharedMedia = item(path);
        return cover;
    }
    static OverlayData perScreenCover(std::vector<std::pair<std::string, std::string>> media) {
        OverlayData cover;
        cover.useSameMediaForAllScreens = false;
        for (auto& [name, path] : media) {
            auto id = desktop::displayIDForScreenName(name);
            cover.screenMedia[mantleshade::displayIDKey(id.value_or(0))] = item(path);
        }
        return cover;
    }
    void store(const std::vector<OverlayData>& covers) {
        ASSERT_TRUE(OverlayData::saveList(covers, *defaults));
    }
    void setLockOut(bool on) { ASSERT_TRUE(defaults->set("LockOut", on)); }

    // Shows cover `id` and runs the main queue; answers the lines printed.
    std::vector<std::string> show(std::int64_t id) {
        return linesOf([&] {
            engine->showOverlay(id);
            drainMain();
        });
    }

    testsupport::TempDir dir{"ms-covers"};
    std::unique_ptr<foundation::UserDefaults> defaults;
    foundation::NotificationCenter center;
    std::shared_ptr<fakes::FakeWindowSystem> system;
    std::shared_ptr<Engine> engine;
};
