#pragma once

#include "platform/tls/Settings.h"

namespace rozuri {

// The settings a TLS start carries, by key.
using DispatchTcpTLSSettings = tls::Settings;

// Marks the point in both request queues where TLS starts: each side stops there until the
// other has reached it too, so bytes before it go in the clear and bytes after it are secured.
struct DispatchTcpSpecialPacket {
    explicit DispatchTcpSpecialPacket(DispatchTcpTLSSettings settings)
        : tlsSettings(std::move(settings)) {}

    DispatchTcpTLSSettings tlsSettings;
};

}  // namespace rozuri
