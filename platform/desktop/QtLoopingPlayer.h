#pragma once

#include <memory>

#include <QMediaPlayer>

#include "platform/desktop/LoopingPlayer.h"
#include "platform/desktop/PlayerSettling.h"
#include "platform/foundation/URL.h"

namespace desktop {

class VideoView;

// A QMediaPlayer that loops for ever and has no audio output (silent). Pausing never waits, and
// detaching or destroying a paused player waits at most PlayerSettling::kBound.
class QtLoopingPlayer final : public LoopingPlayer {
  public:
    explicit QtLoopingPlayer(const foundation::URL& url);
    ~QtLoopingPlayer() override;

    void play() override;
    void pause() override;
    bool isPlaying() const override;
    void detachOutput() override;

    void attach(VideoView& view);
    QMediaPlayer& mediaPlayer() { return *player_; }

  private:
    std::unique_ptr<QMediaPlayer> player_;
    PlayerSettling settling_;
};

}  // namespace desktop
