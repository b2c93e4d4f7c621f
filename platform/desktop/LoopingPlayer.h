#pragma once

namespace desktop {

// A muted video player that replays its file for as long as it exists.
class LoopingPlayer {
  public:
    virtual ~LoopingPlayer() = default;

    virtual void play() = 0;
    virtual void pause() = 0;
    virtual bool isPlaying() const = 0;
    // Disconnects the player from the view that shows it; it shows nothing afterwards. Must
    // happen before that view is deleted.
    virtual void detachOutput() = 0;
};

}  // namespace desktop
