#pragma once

// Cover windows showing videos, for the video player's tests.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop/CoverWindow.h"
#include "platform/desktop/GstLoopingPlayer.h"
#include "platform/desktop/Screens.h"
#include "platform/desktop/VideoPipeline.h"
#include "platform/desktop/VideoView.h"

namespace testclips {

inline std::string dataFile(const char* name) {
    return std::string(MS_TEST_DATA_DIR) + "/" + name;
}

// A cover window per screen, each showing `player`'s share of the video.
struct Covers {
    std::vector<std::unique_ptr<desktop::CoverWindow>> windows;
    std::vector<desktop::VideoView*> views;

    void add(desktop::LoopingPlayer& player, std::size_t screen) {
        auto window = std::make_unique<desktop::CoverWindow>(
            desktop::Screens::system()->screens().at(screen));
        window->setVideoContent(player);
        views.push_back(qobject_cast<desktop::VideoView*>(window->contentView()));
        windows.push_back(std::move(window));
    }
};

// A file playing on screen 0 through a pipeline of its own, on a clock the test moves.
struct Playing {
    std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
    std::shared_ptr<desktop::VideoPipeline> pipeline;
    desktop::GstLoopingPlayer player{pipeline};
    Covers covers;

    // On the steady clock itself when `realClock`.
    explicit Playing(const std::string& path, bool realClock = false)
        : pipeline(std::make_shared<desktop::VideoPipeline>(
              QString::fromStdString(path),
              realClock ? desktop::LoopWatchdog::Clock{}
                        : desktop::LoopWatchdog::Clock{[this] { return now; }})) {
        covers.add(player, 0);
        player.play();
    }
};

}  // namespace testclips
