#pragma once

namespace updater {

// What the updater's user interface tells its host application. Called on the main thread.
class SPUStandardUserDriverDelegate {
  public:
    virtual ~SPUStandardUserDriverDelegate() = default;

    // An update session (a check and the dialogs that report it) is about to finish.
    virtual void standardUserDriverWillFinishUpdateSession() {}
};

}  // namespace updater
