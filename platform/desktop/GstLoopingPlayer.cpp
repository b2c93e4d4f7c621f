#include "platform/desktop/GstLoopingPlayer.h"

#include "platform/desktop/VideoPipeline.h"
#include "platform/desktop/VideoView.h"

namespace desktop {

GstLoopingPlayer::GstLoopingPlayer(std::shared_ptr<VideoPipeline> pipeline)
    : pipeline_(std::move(pipeline)) {}

GstLoopingPlayer::~GstLoopingPlayer() {
    pause();
    detachOutput();
}

void GstLoopingPlayer::play() {
    if (playing_) return;
    playing_ = true;
    pipeline_->retainPlay();
}

void GstLoopingPlayer::pause() {
    if (!playing_) return;
    playing_ = false;
    pipeline_->releasePlay();
}

void GstLoopingPlayer::detachOutput() {
    if (!attached_) return;
    // Also when the view is gone already: the pipeline drops its dead outputs then.
    pipeline_->removeOutput(view_.data());
    view_ = nullptr;
    attached_ = false;
}

void GstLoopingPlayer::attach(VideoView& view) {
    detachOutput();
    view_ = &view;
    attached_ = true;
    pipeline_->addOutput(&view);
}

}  // namespace desktop
