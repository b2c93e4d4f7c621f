#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "covers/OSCDelegate.h"
#include "covers/OverlayContent.h"
#include "covers/OverlayData.h"
#include "covers/OverlayWindow.h"
#include "platform/desktop/KeyboardTap.h"
#include "platform/desktop/LoopingPlayer.h"
#include "platform/desktop/WindowSystem.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/URL.h"

namespace foundation {
class UserDefaults;
}

namespace mantleshade {

// Posted by the Lock Out tap on Ctrl+Shift+H (or Super+Shift+H); clears the covers.
inline constexpr const char* kHideOverlayNotification =
    "com.quorvanesoftware.mantleshade.hideOverlay";
inline constexpr const char* kLockOutDefaultsKey = "LockOut";

// The Lock Out tap's callback: on a key press with Command (Ctrl or Super) and Shift held and the
// H key, whatever else is held, posts the hide notification on `center`. Answers whether the
// event passes on: key presses never do, key releases and modifier changes do.
bool lockOutTapCallback(
    const desktop::KeyEvent& event,
    foundation::NotificationCenter& center = foundation::NotificationCenter::defaultCenter());

// The cover engine: one cover window per screen showing an image, a muted looping video or
// black, taken down on request, on a press or click on a cover, or (Lock Out) on Ctrl+Shift+H.
// Confined to the main thread except where an operation says otherwise. Lines go to stdout.
class FullscreenImageOverlay final : public OSCDelegate,
                                     public std::enable_shared_from_this<FullscreenImageOverlay> {
  public:
    struct PlayerEntry {
        std::shared_ptr<desktop::LoopingPlayer> player;
    };

    // The engine on Qt's screens and windows, the standard defaults and the default center.
    static std::shared_ptr<FullscreenImageOverlay> create();
    // The engine on other platform services (tests). Null `defaults` or `center` mean the
    // standard ones; both must outlive the engine.
    static std::shared_ptr<FullscreenImageOverlay> create(
        std::shared_ptr<desktop::WindowSystem> windowSystem,
        foundation::UserDefaults* defaults = nullptr,
        foundation::NotificationCenter* center = nullptr);

    // Prints "⚠️ FullscreenImageOverlay deallocated" and takes every cover down (on the main
    // thread, moved there when released elsewhere).
    ~FullscreenImageOverlay() override;
    FullscreenImageOverlay(const FullscreenImageOverlay&) = delete;
    FullscreenImageOverlay& operator=(const FullscreenImageOverlay&) = delete;

    // OSCDelegate. showOverlay may be called on any thread: it reads the list at once and shows
    // on the main queue. clear and blackout always act on a later turn of the main queue.
    //
    // Each of these cues sets the whole state of the covers, so a cue that a newer one overtakes
    // before its turn comes is skipped: after a burst only the newest is worked through, and it
    // is on screen at once instead of behind every cue before it. A show that will show nothing
    // (no such cover, no media) overtakes nothing.
    void showOverlay(std::int64_t id) override;
    void clear() override;
    void blackout() override;

    // Readies the covers ahead of the first show (main thread, at start-up): a cover window per
    // screen, and the images of the stored covers decoded and scaled off the main thread, again
    // whenever the stored list changes.
    void prepareCovers();

    // Tears down at once on the main thread, else on the main queue.
    void hideOverlays();
    // Takes every cover down now. Main thread only.
    void tearDownOverlays();

    // State (main thread).
    const std::vector<std::shared_ptr<OverlayWindow>>& overlayWindows() const {
        return overlayWindows_;
    }
    bool isActive() const { return isActive_; }
    bool allowUserInteraction() const { return allowUserInteraction_; }
    const desktop::KeyboardTap* eventTap() const { return eventTap_.get(); }
    // Whether the Lock Out tap holds the keyboard now. While Lock Out is asked for but this is
    // false, a modifier key on a cover still hides the covers, so nobody is stranded.
    bool isKeyboardTapInForce() const { return eventTap_ && eventTap_->isEnabled(); }
    const std::map<std::uint32_t, PlayerEntry>& screenPlayers() const { return screenPlayers_; }
    bool isObservingHideNotification() const { return hideObserver_.has_value(); }
    desktop::WindowSystem& windowSystem() { return *windowSystem_; }

    // The steps of a show (main thread unless noted; exposed for the tests).
    void showCover(OverlayData cover, std::int64_t index);
    void showMediaOnAllScreens(const foundation::URL& url);
    // Hops to the main queue when called elsewhere.
    void showMedia(const std::map<std::uint32_t, foundation::URL>& media);
    // Hops to the main queue when called elsewhere.
    void showBlackout();
    std::shared_ptr<OverlayWindow> makeOverlayWindow(const desktop::Screen& screen,
                                                     const OverlayContent& content);
    std::shared_ptr<desktop::LoopingPlayer> makeLoopingPlayer(const foundation::URL& url,
                                                              std::uint32_t displayID);
    void startLockOut();

  private:
    FullscreenImageOverlay(std::shared_ptr<desktop::WindowSystem> windowSystem,
                           foundation::UserDefaults* defaults,
                           foundation::NotificationCenter* center);

    // Numbers a cue that changes the covers (any thread).
    std::uint64_t takeCue();
    // Whether a cue newer than `cue` was taken since.
    bool isOvertaken(std::uint64_t cue) const;
    // Whether showing `cover` changes the covers, as showCover would resolve it now.
    bool coverChangesCovers(OverlayData cover);
    void finishShow();
    void prefetchCoverImages();
    void removeHideObserver();
    void disableEventTap();
    // Tries to take the keyboard for Lock Out; answers whether it was taken. `announceFailure`
    // prints the failure lines (the first attempt only).
    bool installEventTap(bool announceFailure);
    void scheduleTapRetry();

    std::shared_ptr<desktop::WindowSystem> windowSystem_;
    foundation::UserDefaults* defaults_;
    foundation::NotificationCenter* center_;

    // The number of the newest cue (takeCue).
    std::atomic<std::uint64_t> latestCue_{0};
    std::vector<std::shared_ptr<OverlayWindow>> overlayWindows_;
    bool isActive_ = false;
    std::unique_ptr<desktop::KeyboardTap> eventTap_;
    std::map<std::uint32_t, PlayerEntry> screenPlayers_;
    // Players displaced from screenPlayers_ by a later screen with the same display ID: their
    // windows still show them, so they live until tear-down too.
    std::vector<PlayerEntry> displacedPlayers_;
    bool allowUserInteraction_ = true;
    std::optional<foundation::NotificationCenter::ObserverToken> hideObserver_;
    // The observation of the stored list, from prepareCovers on.
    std::optional<std::uint64_t> overlaysObserver_;
    // Bumped by every start and end of Lock Out, so that a pending retry of an earlier Lock Out
    // does nothing.
    std::uint64_t lockOutGeneration_ = 0;
    // Whether the last refused grab may succeed later.
    bool tapRetryable_ = false;
};

// How often a refused keyboard grab is tried again while Lock Out covers are up.
inline constexpr std::chrono::milliseconds kKeyboardTapRetryInterval{100};

}  // namespace mantleshade
