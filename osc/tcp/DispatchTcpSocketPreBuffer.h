#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rozuri {

// Bytes read from a descriptor but not yet claimed by a read request. Reading and writing move
// two offsets through one block; draining it rewinds both to the start, so it only grows to the
// largest backlog.
class DispatchTcpSocketPreBuffer {
  public:
    explicit DispatchTcpSocketPreBuffer(std::size_t capacity);

    // Grows the block by exactly the shortfall; stored bytes keep their offsets. Throws
    // std::bad_alloc when the memory is not there.
    void ensureCapacityForWrite(std::size_t length);

    std::size_t availableBytes() const { return writeOffset_ - readOffset_; }
    std::size_t availableSpace() const { return block_.size() - writeOffset_; }
    std::size_t capacity() const { return block_.size(); }

    const std::uint8_t* readBuffer() const { return block_.data() + readOffset_; }
    std::uint8_t* writeBuffer() { return block_.data() + writeOffset_; }
    void getReadBuffer(const std::uint8_t** buffer, std::size_t* availableBytes) const;
    void getWriteBuffer(std::uint8_t** buffer, std::size_t* availableSpace);

    void didRead(std::size_t length);
    void didWrite(std::size_t length);
    void reset() { readOffset_ = writeOffset_ = 0; }

  private:
    std::vector<std::uint8_t> block_;
    std::size_t readOffset_ = 0;
    std::size_t writeOffset_ = 0;
};

}  // namespace rozuri
