#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <filesystem>
#include <memory>
#include <string>

namespace desktop {

// One running copy of the application per user and display.
//
// The first copy holds an flock on "<dir>/<identifier>-<display>.lock" and listens on the Unix
// socket "<dir>/<identifier>-<display>.socket" beside it; <dir> is $XDG_RUNTIME_DIR, or the
// application's config folder when that is unset. A later copy finds the lock held and connects:
// the connection itself is the request to come to the front. The kernel drops the lock with its
// holder, so a copy killed outright leaves nothing that blocks the next one.
class SingleInstance : public QObject {
    Q_OBJECT

  public:
    enum class Outcome {
        primary,      // this process holds the lock (or, on a problem, runs without one)
        handedOver,   // another copy holds it and was asked to come to the front
        unreachable,  // another copy holds it but does not answer
    };

    // `identifier`: the application's reverse-domain identifier; `display`: a file-name-safe
    // display key (see displayKey()). `configFolderName` names the fallback folder.
    SingleInstance(std::string identifier, std::string display,
                   std::string configFolderName = "mantleshade", QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock, or hands over to the copy that holds it. Needs no application object, so
    // a second copy ends without opening the display. `problem` gets one line when something
    // went wrong (for primary: the guarantee or the hand-over is unavailable, the copy runs on).
    Outcome start(std::string* problem = nullptr);

    // Starts delivering later copies' requests as activationRequested. After the application
    // object exists; primary only (does nothing otherwise).
    void listen();

    const std::filesystem::path& lockPath() const { return lockPath_; }
    const std::filesystem::path& socketPath() const { return socketPath_; }

  signals:
    void activationRequested();

  private:
    bool bindSocket(std::string* problem);
    bool connectToRunning();
    void acceptPending();

    std::string configFolderName_;
    std::filesystem::path lockPath_;
    std::filesystem::path socketPath_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace desktop
