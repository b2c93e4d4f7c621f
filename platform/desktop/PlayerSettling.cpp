#include "platform/desktop/PlayerSettling.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMediaPlayer>
#include <QThread>
#include <QVideoSink>

namespace desktop {

PlayerSettling::~PlayerSettling() {
    QObject::disconnect(frameConnection_);
}

void PlayerSettling::pause(QMediaPlayer& player) {
    const bool playing = player.playbackState() == QMediaPlayer::PlayingState;
    player.pause();
    QVideoSink* sink = player.videoSink();
    if (!playing || !sink) return;
    QObject::disconnect(frameConnection_);
    pending_ = true;
    frameShown_ = false;
    frameConnection_ = QObject::connect(sink, &QVideoSink::videoFrameChanged, sink,
                                        [this] { frameShown_ = true; });
}

void PlayerSettling::settle() {
    if (!pending_) return;
    pending_ = false;
    QElapsedTimer elapsed;
    elapsed.start();
    while (!frameShown_ && elapsed.elapsed() < kBound.count()) {
        // The sink hands each frame over with an UpdateRequest to its own object: deliver those
        // (and pending repaints) only, so no other work runs in the middle of a tear-down.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        if (!frameShown_) QThread::usleep(500);
    }
    QObject::disconnect(frameConnection_);
}

}  // namespace desktop
