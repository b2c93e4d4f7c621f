#include "osc/tcp/DispatchTcpReadPacket.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

namespace {
// An owned buffer starts with room for a typical message, however long the read says it is.
constexpr std::uint64_t kInitialOwnedReserve = 64 * 1024;
}  // namespace

DispatchTcpReadPacket::DispatchTcpReadPacket(std::shared_ptr<Data> buffer,
                                             std::uint64_t startOffset, std::uint64_t maxLength,
                                             double timeout, std::uint64_t readLength,
                                             std::optional<Data> term, std::int64_t tag)
    : buffer(std::move(buffer)),
      startOffset(startOffset),
      maxLength(maxLength),
      timeout(timeout),
      readLength(readLength),
      term(std::move(term)),
      bufferOwner(this->buffer == nullptr),
      originalBufferLength(this->buffer ? this->buffer->size() : 0),
      tag(tag) {
    if (bufferOwner) {
        this->buffer = std::make_shared<Data>();
        this->startOffset = 0;
        if (readLength > 0) this->buffer->reserve(std::min(readLength, kInitialOwnedReserve));
    }
}

std::uint64_t DispatchTcpReadPacket::spaceLeft() const {
    const std::uint64_t used = startOffset + bytesDone;
    return buffer->size() > used ? buffer->size() - used : 0;
}

void DispatchTcpReadPacket::ensureCapacityForAdditionalDataOfLength(std::uint64_t length) {
    const std::uint64_t space = spaceLeft();
    if (length > space) {
        const std::uint64_t needed =
            std::max<std::uint64_t>(buffer->size(), startOffset + bytesDone);
        if (length - space > buffer->max_size() - needed) throw std::bad_alloc();
        buffer->resize(needed + (length - space));
    }
}

std::uint64_t DispatchTcpReadPacket::optimalReadLengthWithDefault(std::uint64_t defaultValue,
                                                                  bool* shouldPreBuffer) const {
    if (readLength > 0) {
        if (shouldPreBuffer) *shouldPreBuffer = false;
        return readLength - bytesDone;
    }
    std::uint64_t result = defaultValue;
    if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
    if (shouldPreBuffer) *shouldPreBuffer = spaceLeft() < result;
    return result;
}

std::uint64_t DispatchTcpReadPacket::readLengthForNonTermWithHint(
    std::uint64_t bytesAvailable) const {
    if (term) assertionFailure("This method does not apply to term reads", __LINE__);
    if (bytesAvailable == 0) assertionFailure("Invalid parameter: bytesAvailable", __LINE__);
    if (readLength > 0) return std::min(bytesAvailable, readLength - bytesDone);
    if (maxLength > 0) return std::min(bytesAvailable, maxLength - bytesDone);
    return bytesAvailable;
}

std::uint64_t DispatchTcpReadPacket::readLengthForTermWithHint(std::uint64_t bytesAvailable,
                                                               bool* shouldPreBuffer) const {
    if (!term) assertionFailure("This method does not apply to non-term reads", __LINE__);
    if (bytesAvailable == 0) assertionFailure("Invalid parameter: bytesAvailable", __LINE__);
    std::uint64_t result = bytesAvailable;
    if (maxLength > 0) result = std::min(result, maxLength - bytesDone);
    if (shouldPreBuffer) *shouldPreBuffer = spaceLeft() < result;
    return result;
}

std::uint64_t DispatchTcpReadPacket::readLengthForTermWithPreBuffer(
    const DispatchTcpSocketPreBuffer& preBuffer, bool* found) const {
    if (!term) assertionFailure("This method does not apply to non-term reads", __LINE__);
    if (preBuffer.availableBytes() == 0)
        assertionFailure("Invoked with empty pre buffer!", __LINE__);
    if (found) *found = false;
    if (!term) return preBuffer.availableBytes();
    const std::uint64_t T = term->size();
    const std::uint64_t P = preBuffer.availableBytes();
    if (bytesDone + P < T) return P;

    std::uint64_t limit = P;
    if (maxLength > 0) limit = maxLength > bytesDone ? std::min(P, maxLength - bytesDone) : 0;
    // A match may begin in the last k placed bytes.
    const std::uint64_t k = std::min<std::uint64_t>(bytesDone, T - 1);
    if (k + limit < T) return limit;

    const std::uint8_t* pre = preBuffer.readBuffer();
    const std::uint8_t* placed = buffer->data() + startOffset + bytesDone - k;
    const std::uint8_t* t = term->data();
    // Windows that span placed and new bytes, then windows inside the pre-buffer.
    for (std::uint64_t s = 0; s + T <= k + limit; ++s) {
        bool match = true;
        if (s < k) {
            for (std::uint64_t i = 0; i < T && match; ++i) {
                const std::uint64_t v = s + i;
                match = (v < k ? placed[v] : pre[v - k]) == t[i];
            }
        } else {
            match = std::memcmp(pre + (s - k), t, T) == 0;
        }
        if (match) {
            if (found) *found = true;
            return s + T - k;
        }
    }
    return limit;
}

std::int64_t DispatchTcpReadPacket::searchForTermAfterPreBuffering(std::uint64_t numBytes) const {
    if (!term) {
        assertionFailure("This method does not apply to non-term reads", __LINE__);
        return -1;
    }
    const std::uint64_t T = term->size();
    const std::uint64_t total = bytesDone + numBytes;
    if (T == 0 || total < T) return -1;
    // Start T - 1 bytes before the new ones: never rescan older data.
    const std::uint64_t first = bytesDone >= T ? bytesDone - T + 1 : 0;
    const std::uint8_t* base = buffer->data() + startOffset;
    const std::uint8_t* end = base + total;
    const std::uint8_t* at = std::search(base + first, end, term->begin(), term->end());
    if (at == end) return -1;
    return static_cast<std::int64_t>(end - (at + T));
}

}  // namespace rozuri
