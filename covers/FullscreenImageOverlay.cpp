#include "covers/FullscreenImageOverlay.h"

#include <algorithm>
#include <cstdint>
#include <iostream>

#include <QImage>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/UserDefaults.h"

namespace mantleshade {

namespace {

// One write per line, so that lines printed from other threads never interleave within a line.
void printLine(const std::string& line) {
    std::cout << (line + '\n') << std::flush;
}

}  // namespace

bool lockOutTapCallback(const desktop::KeyEvent& event, foundation::NotificationCenter& center) {
    if (event.type != desktop::KeyEvent::Type::keyDown) return true;
    if (event.commandHeld() && event.shiftHeld() && event.keysym == desktop::kKeysymH)
        center.post(kHideOverlayNotification);
    return false;
}

std::shared_ptr<FullscreenImageOverlay> FullscreenImageOverlay::create() {
    return create(desktop::WindowSystem::qt());
}

std::shared_ptr<FullscreenImageOverlay> FullscreenImageOverlay::create(
    std::shared_ptr<desktop::WindowSystem> windowSystem, foundation::UserDefaults* defaults,
    foundation::NotificationCenter* center) {
    return std::shared_ptr<FullscreenImageOverlay>(
        new FullscreenImageOverlay(std::move(windowSystem), defaults, center));
}

FullscreenImageOverlay::FullscreenImageOverlay(std::shared_ptr<desktop::WindowSystem> windowSystem,
                                               foundation::UserDefaults* defaults,
                                               foundation::NotificationCenter* center)
    : windowSystem_(std::move(windowSystem)),
      defaults_(defaults ? defaults : &foundation::UserDefaults::standard()),
      center_(center ? center : &foundation::NotificationCenter::defaultCenter()) {}

FullscreenImageOverlay::~FullscreenImageOverlay() {
    printLine("⚠️ FullscreenImageOverlay deallocated");
    if (overlaysObserver_) defaults_->removeObserver(*overlaysObserver_);
    removeHideObserver();
    if (dispatch::isMainThread()) {
        tearDownOverlays();
        return;
    }
    // Released off the main thread: windows, players and the tap may only go there, so hand
    // them over instead of destroying them here.
    if (overlayWindows_.empty() && screenPlayers_.empty() && !eventTap_) return;
    struct Leftovers {
        std::vector<std::shared_ptr<OverlayWindow>> windows;
        std::map<std::uint32_t, PlayerEntry> players;
        std::vector<PlayerEntry> displaced;
        std::unique_ptr<desktop::KeyboardTap> tap;
    };
    auto left = std::make_shared<Leftovers>();
    left->windows = std::move(overlayWindows_);
    left->players = std::move(screenPlayers_);
    left->displaced = std::move(displacedPlayers_);
    left->tap = std::move(eventTap_);
    auto system = windowSystem_;
    dispatch::Queue::main()->async([left, system] {
        if (!left->windows.empty())
            printLine("🔴 Hiding " + std::to_string(left->windows.size()) + " windows");
        for (auto& [id, entry] : left->players) entry.player->pause();
        for (auto& entry : left->displaced) entry.player->pause();
        for (auto& [id, entry] : left->players) entry.player->detachOutput();
        for (auto& entry : left->displaced) entry.player->detachOutput();
        for (auto& window : left->windows) window->window().orderOut();
        for (auto& window : left->windows) window->window().close();
        if (left->tap) left->tap->setEnabled(false);
        left->tap.reset();
        left->windows.clear();
        left->players.clear();
        left->displaced.clear();
    });
}

void FullscreenImageOverlay::showOverlay(std::int64_t id) {
    // id - 1 without overflow for the smallest id.
    __int128 index = static_cast<__int128>(id) - 1;
    auto list = OverlayData::loadList(*defaults_);
    if (!list || index < 0 || index >= static_cast<__int128>(list->size())) {
        std::string text = index < INT64_MIN ? "-9223372036854775809"
                                             : std::to_string(static_cast<std::int64_t>(index));
        printLine("Trying to Show Index: " + text + " - overlay doesn't exist.");
        return;
    }
    auto position = static_cast<std::size_t>(index);
    OverlayData cover = (*list)[position];
    // A cover that will show nothing leaves the covers as they are, so it overtakes no cue; its
    // step always runs, for its line.
    const std::uint64_t cue = coverChangesCovers(cover) ? takeCue() : 0;
    std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, cover = std::move(cover), position, cue]() mutable {
        auto engine = weak.lock();
        if (!engine || (cue != 0 && engine->isOvertaken(cue))) return;
        engine->showCover(std::move(cover), static_cast<std::int64_t>(position));
    });
}

void FullscreenImageOverlay::clear() {
    const std::uint64_t cue = takeCue();
    std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, cue] {
        auto engine = weak.lock();
        if (engine && !engine->isOvertaken(cue)) engine->hideOverlays();
    });
}

void FullscreenImageOverlay::blackout() {
    const std::uint64_t cue = takeCue();
    std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
    dispatch::Queue::main()->async([weak, cue] {
        auto engine = weak.lock();
        if (engine && !engine->isOvertaken(cue)) engine->showBlackout();
    });
}

std::uint64_t FullscreenImageOverlay::takeCue() {
    return latestCue_.fetch_add(1, std::memory_order_acq_rel) + 1;
}

bool FullscreenImageOverlay::isOvertaken(std::uint64_t cue) const {
    return latestCue_.load(std::memory_order_acquire) != cue;
}

bool FullscreenImageOverlay::coverChangesCovers(OverlayData cover) {
    // The same resolution as showCover, on a copy.
    if (cover.useSameMediaForAllScreens)
        return cover.sharedMedia && cover.sharedMedia->resolvedURL().has_value();
    // The screen list belongs to the main thread; elsewhere assume the cover shows.
    if (!dispatch::isMainThread()) return true;
    for (const desktop::Screen& screen : windowSystem_->screens()) {
        if (!screen.displayID) continue;
        auto it = cover.screenMedia.find(displayIDKey(*screen.displayID));
        if (it != cover.screenMedia.end() && it->second.resolvedURL()) return true;
    }
    return false;
}

void FullscreenImageOverlay::prepareCovers() {
    windowSystem_->prepareWindows();
    prefetchCoverImages();
    if (overlaysObserver_) return;
    std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
    overlaysObserver_ = defaults_->addObserver([weak](const std::string& key) {
        if (key != kOverlaysDefaultsKey) return;
        dispatch::Queue::main()->async([weak] {
            if (auto engine = weak.lock()) engine->prefetchCoverImages();
        });
    });
}

void FullscreenImageOverlay::prefetchCoverImages() {
    std::vector<foundation::URL> images;
    auto add = [&](OverlayData::MediaItem item) {
        auto url = item.resolvedURL();
        if (url && !isVideoFile(*url) &&
            std::find(images.begin(), images.end(), *url) == images.end())
            images.push_back(*url);
    };
    if (auto list = OverlayData::loadList(*defaults_)) {
        for (const OverlayData& cover : *list) {
            if (cover.useSameMediaForAllScreens) {
                if (cover.sharedMedia) add(*cover.sharedMedia);
            } else {
                for (const auto& [key, item] : cover.screenMedia) add(item);
            }
        }
    }
    windowSystem_->prefetchImages(images);
}

void FullscreenImageOverlay::hideOverlays() {
    if (dispatch::isMainThread()) {
        tearDownOverlays();
        return;
    }
    std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
    dispatch::Queue::main()->async([weak] {
        if (auto engine = weak.lock()) engine->tearDownOverlays();
    });
}

void FullscreenImageOverlay::removeHideObserver() {
    if (hideObserver_) {
        center_->removeObserver(*hideObserver_);
        hideObserver_.reset();
    }
}

void FullscreenImageOverlay::disableEventTap() {
    ++lockOutGeneration_;
    if (eventTap_) {
        eventTap_->setEnabled(false);
        eventTap_.reset();
    }
}

void FullscreenImageOverlay::tearDownOverlays() {
    removeHideObserver();
    if (overlayWindows_.empty()) {
        // A tap without a cover (startLockOut called on its own) must not outlive a hide either.
        disableEventTap();
        return;
    }
    printLine("🔴 Hiding " + std::to_string(overlayWindows_.size()) + " windows");

    for (auto& [id, entry] : screenPlayers_) entry.player->pause();
    for (auto& entry : displacedPlayers_) entry.player->pause();
    // A player must let go of its view before that view's window is deleted.
    for (auto& [id, entry] : screenPlayers_) entry.player->detachOutput();
    for (auto& entry : displacedPlayers_) entry.player->detachOutput();
    screenPlayers_.clear();
    displacedPlayers_.clear();

    for (auto& window : overlayWindows_) window->window().orderOut();
    for (auto& window : overlayWindows_) window->window().close();
    overlayWindows_.clear();
    isActive_ = false;

    disableEventTap();
}

void FullscreenImageOverlay::showCover(OverlayData cover, std::int64_t index) {
    if (cover.useSameMediaForAllScreens) {
        std::optional<foundation::URL> url;
        if (cover.sharedMedia) url = cover.sharedMedia->resolvedURL();
        if (url)
            showMediaOnAllScreens(*url);
        else
            printLine("No shared media for index " + std::to_string(index));
        return;
    }
    std::map<std::uint32_t, foundation::URL> media;
    for (const desktop::Screen& screen : windowSystem_->screens()) {
        if (!screen.displayID) continue;
        auto it = cover.screenMedia.find(displayIDKey(*screen.displayID));
        if (it == cover.screenMedia.end()) continue;
        if (auto url = it->second.resolvedURL()) media.insert_or_assign(*screen.displayID, *url);
    }
    if (!media.empty())
        showMedia(media);
    else
        printLine("No per-screen media assigned for index " + std::to_string(index));
}

void FullscreenImageOverlay::showMediaOnAllScreens(const foundation::URL& url) {
    std::map<std::uint32_t, foundation::URL> media;
    for (const desktop::Screen& screen : windowSystem_->screens())
        if (screen.displayID) media.insert_or_assign(*screen.displayID, url);
    showMedia(media);
}

void FullscreenImageOverlay::showMedia(const std::map<std::uint32_t, foundation::URL>& media) {
    if (!dispatch::isMainThread()) {
        std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
        dispatch::Queue::main()->async([weak, media] {
            if (auto engine = weak.lock()) engine->showMedia(media);
        });
        return;
    }
    hideOverlays();
    // One decode per file: screens that share an image share its (implicitly shared) pixels.
    std::map<std::string, QImage> images;
    for (const desktop::Screen& screen : windowSystem_->screens()) {
        if (!screen.displayID) continue;
        auto it = media.find(*screen.displayID);
        if (it == media.end()) {
            printLine("No media for screen " + screen.localizedName + ", skipping");
            continue;
        }
        const foundation::URL& url = it->second;
        OverlayContent content = OverlayContent::blackout();
        if (isVideoFile(url)) {
            content = OverlayContent::video(url);
        } else {
            auto [image, inserted] = images.try_emplace(url.absoluteString());
            if (inserted) {
                std::string why;
                image->second = windowSystem_->loadImage(url, &why);
                // The cover still shows (black), but the reason is not lost.
                if (image->second.isNull())
                    printLine("Image " + (url.isFileURL() ? url.path() : url.absoluteString()) +
                              " cannot be shown: " + (why.empty() ? "unreadable" : why));
            }
            content = OverlayContent::image(image->second);
        }
        auto window = makeOverlayWindow(screen, content);
        overlayWindows_.push_back(window);
        window->window().makeKeyAndOrderFront();
    }
    isActive_ = !overlayWindows_.empty();
    for (auto& [id, entry] : screenPlayers_) entry.player->play();
    for (auto& entry : displacedPlayers_) entry.player->play();
    finishShow();
}

void FullscreenImageOverlay::showBlackout() {
    if (!dispatch::isMainThread()) {
        std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
        dispatch::Queue::main()->async([weak] {
            if (auto engine = weak.lock()) engine->showBlackout();
        });
        return;
    }
    hideOverlays();
    for (const desktop::Screen& screen : windowSystem_->screens()) {
        auto window = makeOverlayWindow(screen, OverlayContent::blackout());
        overlayWindows_.push_back(window);
        window->window().makeKeyAndOrderFront();
    }
    isActive_ = true;
    finishShow();
}

void FullscreenImageOverlay::finishShow() {
    bool lockOut = defaults_->boolean(kLockOutDefaultsKey).value_or(false);
    allowUserInteraction_ = !lockOut;
    // Without a window there is no cover to end Lock Out from, so it is not started.
    if (lockOut && !overlayWindows_.empty()) startLockOut();
}

std::shared_ptr<OverlayWindow> FullscreenImageOverlay::makeOverlayWindow(
    const desktop::Screen& screen, const OverlayContent& content) {
    auto window =
        std::make_shared<OverlayWindow>(windowSystem_->createWindow(screen), windowSystem_);
    window->overlay = weak_from_this();
    windowSystem_->activateIgnoringOtherApps();
    desktop::Window& platform = window->window();
    platform.makeKeyAndOrderFront();
    platform.orderFrontRegardless();
    platform.makeMainWindow();

    switch (content.kind()) {
        case OverlayContent::Kind::image:
            platform.setImageContent(*content.imageValue());
            break;
        case OverlayContent::Kind::video:
            if (screen.displayID) {
                auto player = makeLoopingPlayer(*content.videoURL(), *screen.displayID);
                platform.setVideoContent(*player);
            }
            break;
        case OverlayContent::Kind::blackout:
            platform.setBlackoutContent();
            break;
    }

    platform.setFrame(screen.frame);
    platform.display();
    printLine("Creating: " + screen.localizedName + " " + platform.frame().description());
    return window;
}

std::shared_ptr<desktop::LoopingPlayer> FullscreenImageOverlay::makeLoopingPlayer(
    const foundation::URL& url, std::uint32_t displayID) {
    auto player = windowSystem_->createLoopingPlayer(url);
    auto it = screenPlayers_.find(displayID);
    if (it != screenPlayers_.end()) {
        // Its window still shows it: keep it until tear-down.
        displacedPlayers_.push_back(std::move(it->second));
        it->second = PlayerEntry{player};
    } else {
        screenPlayers_.emplace(displayID, PlayerEntry{player});
    }
    return player;
}

void FullscreenImageOverlay::startLockOut() {
    // A second start without a tear-down in between keeps one observation, not two.
    removeHideObserver();
    std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
    hideObserver_ = center_->addObserver(kHideOverlayNotification, dispatch::Queue::main(), [weak] {
        if (auto engine = weak.lock()) engine->hideOverlays();
    });
    // Let go of an earlier tap first: releasing it later would also release the new grab.
    disableEventTap();
    if (!installEventTap(true)) scheduleTapRetry();
}

void FullscreenImageOverlay::scheduleTapRetry() {
    // Only while the covers are up, and only when another attempt may succeed.
    if (overlayWindows_.empty() || !tapRetryable_) return;
    const std::uint64_t generation = lockOutGeneration_;
    std::weak_ptr<FullscreenImageOverlay> weak = weak_from_this();
    dispatch::Queue::main()->asyncAfter(kKeyboardTapRetryInterval, [weak, generation] {
        auto engine = weak.lock();
        if (!engine || engine->lockOutGeneration_ != generation || engine->eventTap_ ||
            engine->overlayWindows_.empty())
            return;
        if (!engine->installEventTap(false)) engine->scheduleTapRetry();
    });
}

bool FullscreenImageOverlay::installEventTap(bool announceFailure) {
    foundation::NotificationCenter* center = center_;
    desktop::KeyboardTapFailure failure;
    eventTap_ = windowSystem_->createKeyboardTap(
        [center](const desktop::KeyEvent& event) { return lockOutTapCallback(event, *center); },
        &failure);
    if (eventTap_) {
        printLine("✅ Event tap active");
        return true;
    }
    if (announceFailure) {
        printLine("❌ Event tap failed — need Accessibility permission");
        if (!failure.cause.empty()) printLine(failure.cause);
    }
    tapRetryable_ = failure.retryable;
    return false;
}

}  // namespace mantleshade
