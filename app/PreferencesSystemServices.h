#pragma once

#include <memory>

#include "app/PreferencesServices.h"

namespace mantleshade {

class OSCManager;

// The Preferences window's services in the running application: the OSC manager, the desktop's
// screens, Accessibility check and taskbar presence, the open panel and the file manager.
class PreferencesSystemServices : public PreferencesServices {
    Q_OBJECT

  public:
    explicit PreferencesSystemServices(std::shared_ptr<OSCManager> oscManager,
                                       QObject* parent = nullptr);

    bool serverIsListening() const override;
    std::optional<std::int64_t> currentListeningPort() const override;
    void startListening() override;

    bool isAccessibilityTrusted() override;
    void requestAccessibilityPermission() override;
    void setShowsDockIcon(bool shows) override;
    std::vector<ConnectedScreen> screens() override;
    std::optional<ConnectedScreen> mainScreen() override;

    std::optional<foundation::URL> chooseMedia() override;
    void revealInFileManager(const foundation::URL& url) override;

  private:
    std::shared_ptr<OSCManager> osc_;
};

}  // namespace mantleshade
