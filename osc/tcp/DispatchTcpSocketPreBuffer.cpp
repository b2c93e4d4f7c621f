#include "osc/tcp/DispatchTcpSocketPreBuffer.h"

#include <algorithm>

namespace rozuri {

DispatchTcpSocketPreBuffer::DispatchTcpSocketPreBuffer(std::size_t capacity) : block_(capacity) {}

void DispatchTcpSocketPreBuffer::ensureCapacityForWrite(std::size_t length) {
    const std::size_t space = availableSpace();
    if (space < length) block_.resize(block_.size() + (length - space));
}

void DispatchTcpSocketPreBuffer::getReadBuffer(const std::uint8_t** buffer,
                                               std::size_t* availableBytes) const {
    if (buffer) *buffer = readBuffer();
    if (availableBytes) *availableBytes = this->availableBytes();
}

void DispatchTcpSocketPreBuffer::getWriteBuffer(std::uint8_t** buffer,
                                                std::size_t* availableSpace) {
    if (buffer) *buffer = writeBuffer();
    if (availableSpace) *availableSpace = this->availableSpace();
}

void DispatchTcpSocketPreBuffer::didRead(std::size_t length) {
    readOffset_ = std::min(readOffset_ + length, writeOffset_);
    if (readOffset_ == writeOffset_) reset();
}

void DispatchTcpSocketPreBuffer::didWrite(std::size_t length) {
    writeOffset_ = std::min(writeOffset_ + length, block_.size());
}

}  // namespace rozuri
