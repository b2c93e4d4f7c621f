#pragma once

#include <any>
#include <map>
#include <string>

namespace rozuri {

// The settings a TLS start carries, by key.
using DispatchTcpTLSSettings = std::map<std::string, std::any>;

// Marks the point in both request queues where TLS starts: each side stops there until the
// other has reached it too, so bytes before it go in the clear and bytes after it are secured.
struct DispatchTcpSpecialPacket {
    explicit DispatchTcpSpecialPacket(DispatchTcpTLSSettings settings)
        : tlsSettings(std::move(settings)) {}

    DispatchTcpTLSSettings tlsSettings;
};

}  // namespace rozuri
