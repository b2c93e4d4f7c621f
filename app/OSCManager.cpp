#include "app/OSCManager.h"

#include <cstdio>
#include <exception>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "osc/core/OSCAddressPattern.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCMessage.h"
#include "osc/udp/OSCUDPServer.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/UserDefaults.h"

namespace mantleshade {

namespace {

void logLine(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

const rozuri::OSCAddressPattern& showAddress() {
    static const rozuri::OSCAddressPattern a("/mantleshade/show");
    return a;
}
const rozuri::OSCAddressPattern& clearAddress() {
    static const rozuri::OSCAddressPattern a("/mantleshade/clear");
    return a;
}
const rozuri::OSCAddressPattern& blackoutAddress() {
    static const rozuri::OSCAddressPattern a("/mantleshade/blackout");
    return a;
}

// Hops to the main queue; there it acts on the manager's delegate, if both still exist.
void onMainWithDelegate(const std::weak_ptr<OSCManager>& box,
                        std::function<void(OSCDelegate&)> command) {
    dispatch::Queue::main()->async([box, command = std::move(command)] {
        const std::shared_ptr<OSCManager> manager = box.lock();
        if (!manager) return;
        if (const std::shared_ptr<OSCDelegate> delegate = manager->delegate()) command(*delegate);
    });
}

}  // namespace

std::shared_ptr<OSCManager> OSCManager::create(bool deferStart,
                                               foundation::UserDefaults* defaults) {
    // The tear-down belongs to the main thread wherever the last reference goes.
    std::shared_ptr<OSCManager> manager(new OSCManager(defaults), [](OSCManager* m) {
        if (dispatch::isMainThread()) {
            delete m;
        } else {
            dispatch::Queue::main()->async([m] { delete m; });
        }
    });
    manager->self_ = manager;
    if (!deferStart) manager->startListening();
    return manager;
}

OSCManager::OSCManager(foundation::UserDefaults* defaults)
    : defaults_(defaults), queue_(dispatch::Queue::createSerial(kQueueLabel)) {}

OSCManager::~OSCManager() = default;

void OSCManager::setServerIsListening(bool value) {
    if (value == serverIsListening_) return;
    serverIsListening_ = value;
    emit serverIsListeningChanged(value);
}

void OSCManager::setCurrentListeningPort(std::optional<std::int64_t> value) {
    if (value == currentListeningPort_) return;
    currentListeningPort_ = value;
    emit currentListeningPortChanged();
}

void OSCManager::setServer(std::shared_ptr<rozuri::OSCUDPServer> server) {
    server_ = std::move(server);
    emit serverChanged();
}

void OSCManager::setDelegate(std::weak_ptr<OSCDelegate> delegate) {
    delegate_ = std::move(delegate);
    emit delegateChanged();
}

std::optional<std::uint16_t> OSCManager::storedPort() {
    foundation::UserDefaults& defaults =
        defaults_ ? *defaults_ : foundation::UserDefaults::standard();
    const std::optional<nlohmann::json> stored = defaults.object(kPortDefaultsKey);
    if (!stored || stored->is_null()) return kDefaultPort;

    std::optional<std::int64_t> port;
    if (stored->is_number_unsigned()) {
        const auto v = stored->get<std::uint64_t>();
        if (v <= 65535) port = static_cast<std::int64_t>(v);
    } else if (stored->is_number_integer()) {
        port = stored->get<std::int64_t>();
    } else if (stored->is_number_float()) {
        // Integral values written as numbers with a fraction part (5000.0) still count.
        const double v = stored->get<double>();
        if (v >= -1.0 && v <= 65536.0 && v == static_cast<double>(static_cast<std::int64_t>(v))) {
            port = static_cast<std::int64_t>(v);
        }
    }
    if (port && *port >= 0 && *port <= 65535) return static_cast<std::uint16_t>(*port);

    logLine("Invalid OSC port " + stored->dump() +
            ": \"oscPort\" must be an integer from 0 to 65535; not listening.");
    return std::nullopt;
}

void OSCManager::startListening() {
    stopListening();

    const std::optional<std::uint16_t> port = storedPort();
    if (!port) {
        // Never listen on a truncated port: stay in Start failed until the port is fixed.
        setCurrentListeningPort(std::nullopt);
        setServerIsListening(false);
        return;
    }

    const std::weak_ptr<OSCManager> box = self_;
    setServer(rozuri::OSCUDPServer::create(
        *port, std::nullopt, rozuri::OSCTimeTagMode::ignore, queue_,
        [box](const rozuri::OSCMessage& message, const rozuri::OSCTimeTag&, const std::string&,
              std::uint16_t) { handleMessage(box, message); }));

    if (const std::shared_ptr<rozuri::OSCUDPServer> server = server_) {
        try {
            server->start();
            setServerIsListening(true);
            setCurrentListeningPort(*port);
        } catch (const rozuri::OSCSocketError& error) {
            setCurrentListeningPort(std::nullopt);
            setServerIsListening(false);
            logLine(error.error().localizedDescription());
        } catch (const std::exception& error) {
            setCurrentListeningPort(std::nullopt);
            setServerIsListening(false);
            logLine(error.what());
        }
    }
}

void OSCManager::stopListening() {
    if (server_) server_->stop();
    setServer(nullptr);
    setServerIsListening(false);
}

void OSCManager::handleMessage(const std::weak_ptr<OSCManager>& manager,
                               const rozuri::OSCMessage& message) {
    const rozuri::OSCAddressPattern& address = message.addressPattern();
    if (address == showAddress() && !message.values().empty()) {
        if (const std::int32_t* n = message.values().front().get_if<std::int32_t>()) {
            logLine("OSC Rev to Show");
            const std::int64_t id = *n;
            onMainWithDelegate(manager, [id](OSCDelegate& delegate) {
                if (id == 0) {
                    delegate.blackout();
                } else {
                    delegate.showOverlay(id);
                }
            });
            return;
        }
    }
    if (address == clearAddress()) {
        logLine("OSC Rev to Hide");
        onMainWithDelegate(manager, [](OSCDelegate& delegate) { delegate.clear(); });
        return;
    }
    if (address == blackoutAddress()) {
        onMainWithDelegate(manager, [](OSCDelegate& delegate) { delegate.blackout(); });
    }
}

}  // namespace mantleshade
