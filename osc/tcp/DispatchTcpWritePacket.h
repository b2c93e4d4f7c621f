#pragma once

#include <cstdint>

#include "osc/core/Data.h"

namespace rozuri {

// One queued write. The socket reads and advances its fields directly.
struct DispatchTcpWritePacket {
    DispatchTcpWritePacket(Data data, double timeout, std::int64_t tag)
        : buffer(std::move(data)), timeout(timeout), tag(tag) {}

    Data buffer;
    std::uint64_t bytesDone = 0;
    // Seconds; negative (or not a number) means no timer. Grows by each granted extension.
    double timeout;
    std::int64_t tag;
};

}  // namespace rozuri
