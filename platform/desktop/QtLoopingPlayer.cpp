#include "platform/desktop/QtLoopingPlayer.h"

#include <QFileInfo>
#include <QUrl>

#include "platform/desktop/VideoView.h"

namespace desktop {

namespace {

QUrl toQUrl(const foundation::URL& url) {
    if (url.isFileURL()) return QUrl::fromLocalFile(QString::fromStdString(url.path()));
    return QUrl(QString::fromStdString(url.absoluteString()));
}

}  // namespace

QtLoopingPlayer::QtLoopingPlayer(const foundation::URL& url)
    : player_(std::make_unique<QMediaPlayer>()) {
    // No QAudioOutput is attached: the video plays without sound.
    player_->setLoops(QMediaPlayer::Infinite);
    // Only regular files: opening a FIFO or a device would block the main thread (the view
    // stays black).
    if (url.isFileURL() && !QFileInfo(QString::fromStdString(url.path())).isFile()) return;
    player_->setSource(toQUrl(url));
}

QtLoopingPlayer::~QtLoopingPlayer() {
    // Paused and settled first, so neither detaching nor destroying waits on the pipeline.
    if (isPlaying()) settling_.pause(*player_);
    settling_.settle();
    player_->setVideoSink(nullptr);
}

void QtLoopingPlayer::play() {
    player_->play();
}

void QtLoopingPlayer::pause() {
    settling_.pause(*player_);
}

bool QtLoopingPlayer::isPlaying() const {
    return player_->playbackState() == QMediaPlayer::PlayingState;
}

void QtLoopingPlayer::detachOutput() {
    if (isPlaying()) settling_.pause(*player_);
    settling_.settle();
    player_->setVideoSink(nullptr);
}

void QtLoopingPlayer::attach(VideoView& view) {
    view.attach(player_.get());
}

}  // namespace desktop
