#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>

#include "covers/OSCDelegate.h"

namespace dispatch {
class Queue;
}
namespace foundation {
class UserDefaults;
}
namespace rozuri {
class OSCMessage;
class OSCUDPServer;
}  // namespace rozuri

namespace mantleshade {

// OSC remote control: listens on the UDP port stored under "oscPort" and turns
// "/mantleshade/show" (int32 n; 0 blacks out), "/mantleshade/clear" and "/mantleshade/blackout"
// into calls on its delegate, on the main thread.
//
// States: not listening (no server), listening (server started, port known), start failed
// (no started server, currentListeningPort empty). All state belongs to the main thread, and so
// does the tear-down (moved there when the last reference goes elsewhere). Messages arrive on
// queue() and touch none of the state.
class OSCManager : public QObject {
    Q_OBJECT

  public:
    static constexpr const char* kQueueLabel = "com.quorvanesoftware.mantleshade.osc";
    static constexpr const char* kPortDefaultsKey = "oscPort";
    static constexpr std::uint16_t kDefaultPort = 5000;

    // deferStart false: listens before returning. `defaults` null means the standard defaults;
    // it must outlive the manager.
    static std::shared_ptr<OSCManager> create(bool deferStart = false,
                                              foundation::UserDefaults* defaults = nullptr);
    ~OSCManager() override;

    // (Re)starts the UDP receiver on the stored port. Never throws; a failure is printed.
    void startListening();
    // Stops and drops the receiver; currentListeningPort keeps its value.
    void stopListening();

    bool serverIsListening() const { return serverIsListening_; }
    void setServerIsListening(bool value);
    std::optional<std::int64_t> currentListeningPort() const { return currentListeningPort_; }
    void setCurrentListeningPort(std::optional<std::int64_t> value);
    const std::shared_ptr<rozuri::OSCUDPServer>& server() const { return server_; }
    void setServer(std::shared_ptr<rozuri::OSCUDPServer> server);
    std::shared_ptr<OSCDelegate> delegate() const { return delegate_.lock(); }
    // Not owned: the manager never keeps its delegate alive.
    void setDelegate(std::weak_ptr<OSCDelegate> delegate);

    const std::shared_ptr<dispatch::Queue>& queue() const { return queue_; }

    // The receive handler: recognises the three addresses, prints their log lines and hops to
    // the main queue to call the delegate of `manager` (if it still exists then). Any thread.
    static void handleMessage(const std::weak_ptr<OSCManager>& manager,
                              const rozuri::OSCMessage& message);

    // The port "oscPort" asks for: 5000 when absent; empty (after printing why) when the stored
    // value is not an integer in 0...65535.
    std::optional<std::uint16_t> storedPort();

  signals:
    void serverIsListeningChanged(bool listening);
    void currentListeningPortChanged();
    void serverChanged();
    void delegateChanged();

  private:
    OSCManager(foundation::UserDefaults* defaults);

    foundation::UserDefaults* defaults_;
    std::weak_ptr<OSCManager> self_;
    bool serverIsListening_ = false;
    std::optional<std::int64_t> currentListeningPort_;
    std::shared_ptr<rozuri::OSCUDPServer> server_;
    std::shared_ptr<dispatch::Queue> queue_;
    std::weak_ptr<OSCDelegate> delegate_;
};

}  // namespace mantleshade
