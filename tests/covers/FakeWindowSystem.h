#pragma once

// Fake screens, windows, players and keyboard taps for the cover engine, recording what happens
// to them in one shared, ordered log.

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <QImage>

#include "platform/desktop/WindowSystem.h"

namespace fakes {

struct Log {
    std::vector<std::string> entries;
    void add(std::string entry) { entries.push_back(std::move(entry)); }
    // Position of the first entry equal to `entry`, or -1.
    int indexOf(const std::string& entry) const {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (entries[i] == entry) return static_cast<int>(i);
        return -1;
    }
};

class FakePlayer final : public desktop::LoopingPlayer {
  public:
    FakePlayer(std::shared_ptr<Log> log, std::string name)
        : log_(std::move(log)), name_(std::move(name)) {}
    ~FakePlayer() override { log_->add("player-deleted " + name_); }
    void play() override {
        playing = true;
        log_->add("play " + name_);
    }
    void pause() override {
        playing = false;
        log_->add("pause " + name_);
    }
    bool isPlaying() const override { return playing; }
    void detachOutput() override {
        detached = true;
        log_->add("detach " + name_);
    }
    const std::string& name() const { return name_; }

    bool playing = false;
    bool detached = false;

  private:
    std::shared_ptr<Log> log_;
    std::string name_;
};

class FakeWindow final : public desktop::Window {
  public:
    enum class Content { none, image, video, blackout };

    FakeWindow(std::shared_ptr<Log> log, desktop::Screen onScreen)
        : screen(std::move(onScreen)), log_(std::move(log)) {}
    ~FakeWindow() override {
        log_->add("window-deleted " + screen.localizedName);
        destroyedOnThread = std::this_thread::get_id();
        if (onDestroy) onDestroy(*this);
    }

    void setEventHandler(desktop::WindowEventHandler* h) override { handler = h; }
    void setImageContent(const QImage& image) override {
        content = Content::image;
        imageSize = image.size();
    }
    void setVideoContent(desktop::LoopingPlayer& p) override {
        content = Content::video;
        player = &p;
    }
    void setBlackoutContent() override { content = Content::blackout; }
    void makeKeyAndOrderFront() override {
        visible = true;
        ++frontCount;
    }
    void orderFrontRegardless() override { visible = true; }
    void makeMainWindow() override {}
    void orderOut() override {
        visible = false;
        log_->add("order-out " + screen.localizedName);
    }
    void close() override {
        closed = true;
        log_->add("close " + screen.localizedName);
    }
    void setFrame(const desktop::Rect& f) override { frame_ = f; }
    desktop::Rect frame() const override { return frame_; }
    void display() override {}

    desktop::Screen screen;
    desktop::WindowEventHandler* handler = nullptr;
    Content content = Content::none;
    QSize imageSize;
    desktop::LoopingPlayer* player = nullptr;
    bool visible = false;
    bool closed = false;
    int frontCount = 0;
    std::thread::id destroyedOnThread;
    std::function<void(FakeWindow&)> onDestroy;

  private:
    std::shared_ptr<Log> log_;
    desktop::Rect frame_;
};

class FakeTap final : public desktop::KeyboardTap {
  public:
    FakeTap(std::shared_ptr<Log> log, Callback cb) : callback(std::move(cb)), log_(std::move(log)) {
        log_->add("tap-created");
    }
    ~FakeTap() override { log_->add("tap-deleted"); }
    void setEnabled(bool e) override {
        enabled = e;
        log_->add(e ? "tap-enabled" : "tap-disabled");
    }
    bool isEnabled() const override { return enabled; }

    Callback callback;
    bool enabled = true;

  private:
    std::shared_ptr<Log> log_;
};

class FakeWindowSystem final : public desktop::WindowSystem {
  public:
    FakeWindowSystem() : log(std::make_shared<Log>()) {}

    std::vector<desktop::Screen> screens() const override { return screenList; }

    std::unique_ptr<desktop::Window> createWindow(const desktop::Screen& screen) override {
        auto window = std::make_unique<FakeWindow>(log, screen);
        windows.push_back(window.get());
        window->onDestroy = [this](FakeWindow& w) { std::erase(windows, &w); };
        return window;
    }
    std::shared_ptr<desktop::LoopingPlayer> createLoopingPlayer(
        const foundation::URL& url) override {
        auto player = std::make_shared<FakePlayer>(
            log, url.lastPathComponent() + "#" + std::to_string(++playerCount));
        players.push_back(player);
        return player;
    }
    QImage loadImage(const foundation::URL& url, std::string* why = nullptr) override {
        ++imagesLoaded;
        if (url.lastPathComponent().find("broken") != std::string::npos) {
            if (why) *why = "not an image";
            return {};
        }
        QImage image(4, 2, QImage::Format_RGB32);
        image.fill(Qt::red);
        return image;
    }
    void activateIgnoringOtherApps() override { ++activations; }
    std::unique_ptr<desktop::KeyboardTap> createKeyboardTap(
        desktop::KeyboardTap::Callback callback, desktop::KeyboardTapFailure* failure) override {
        ++tapAttempts;
        if (!tapAvailable) {
            if (failure) *failure = tapFailure;
            return nullptr;
        }
        auto tap = std::make_unique<FakeTap>(log, std::move(callback));
        lastTap = tap.get();
        ++tapsCreated;
        return tap;
    }
    bool isProcessTrusted() override { return trusted; }

    static desktop::Screen screen(std::string name, desktop::Rect frame) {
        desktop::Screen s;
        s.localizedName = name;
        s.displayID = desktop::displayIDForScreenName(name);
        s.frame = frame;
        return s;
    }
    static std::vector<desktop::Screen> twoScreens() {
        return {screen("Left", {0, 0, 1920, 1080}), screen("Right", {1920, 0, 1280, 1024})};
    }

    std::shared_ptr<Log> log;
    std::vector<desktop::Screen> screenList = twoScreens();
    std::vector<FakeWindow*> windows;  // alive ones
    std::vector<std::weak_ptr<FakePlayer>> players;
    FakeTap* lastTap = nullptr;
    int playerCount = 0;
    int imagesLoaded = 0;
    int activations = 0;
    int tapsCreated = 0;
    int tapAttempts = 0;
    bool tapAvailable = true;
    desktop::KeyboardTapFailure tapFailure{"no Accessibility permission", false};
    bool trusted = true;
};

}  // namespace fakes
