#pragma once

#include <memory>

#include <QPointer>

#include "platform/desktop/LoopingPlayer.h"

namespace desktop {

class VideoPipeline;
class VideoView;

// One screen's share of a VideoPipeline: the screens that show the same file hold players on the
// same pipeline, which decodes the file once and plays while any of them plays.
class GstLoopingPlayer final : public LoopingPlayer {
  public:
    explicit GstLoopingPlayer(std::shared_ptr<VideoPipeline> pipeline);
    // Lets go of its view and its hold on playing; the pipeline stops with its last holder.
    ~GstLoopingPlayer() override;

    void play() override;
    void pause() override;
    bool isPlaying() const override { return playing_; }
    void detachOutput() override;

    // Shows the video in `view` (one view per player; a new one replaces the old).
    void attach(VideoView& view);
    VideoPipeline& pipeline() { return *pipeline_; }

  private:
    std::shared_ptr<VideoPipeline> pipeline_;
    QPointer<VideoView> view_;
    bool playing_ = false;
    bool attached_ = false;
};

}  // namespace desktop
