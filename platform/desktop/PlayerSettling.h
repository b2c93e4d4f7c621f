#pragma once

#include <chrono>

#include <QMetaObject>

class QMediaPlayer;

namespace desktop {

// Qt's GStreamer player waits on the main thread for its pipeline to reach "paused" whenever it
// is stopped, given another video sink or destroyed while playing, and the pipeline's video sink
// in turn waits for the main thread to take its frame: a mutual wait that only the sink's 300 ms
// time-out ends (seconds with several players, as at quit). So a player is paused first (which
// does not wait), the sink's frame hand-over is pumped until the paused pipeline has shown its
// frame, and only then is the player stopped, detached or destroyed. Main thread only.
class PlayerSettling {
  public:
    static constexpr std::chrono::milliseconds kBound{100};

    PlayerSettling() = default;
    ~PlayerSettling();
    PlayerSettling(const PlayerSettling&) = delete;
    PlayerSettling& operator=(const PlayerSettling&) = delete;

    // Pauses `player` (it must outlive the settling, or settle() must run first).
    void pause(QMediaPlayer& player);
    // Returns once the paused pipeline has shown its frame, or after kBound. Runs nothing but
    // the video sinks' frame hand-over. Does nothing when nothing was paused while playing.
    void settle();

  private:
    QMetaObject::Connection frameConnection_;
    bool pending_ = false;
    bool frameShown_ = false;
};

}  // namespace desktop
