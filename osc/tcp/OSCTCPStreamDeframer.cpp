#include "osc/tcp/OSCTCPStreamDeframer.h"

#include <algorithm>

#include "osc/tcp/OSCTCPFraming.h"

namespace rozuri {

namespace {

std::uint32_t bigEndianLength(const std::uint8_t* p) {
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
           std::uint32_t{p[3]};
}

}  // namespace

OSCTCPStreamDeframer::OSCTCPStreamDeframer(OSCTCPFramingMode mode, std::size_t frameLimit)
    : mode_(mode), limit_(frameLimit) {}

void OSCTCPStreamDeframer::setFrameLimit(std::size_t limit) {
    limit_ = limit;
    switch (mode_) {
        case OSCTCPFramingMode::osc1_0:
            // A body whose announced length is now over the limit is counted down instead.
            if (headerCount_ == 4 && !skippingBody_ && buffer_.size() + bodyRemaining_ > limit_) {
                skippingBody_ = true;
                Data().swap(buffer_);
            }
            break;
        case OSCTCPFramingMode::osc1_1:
            if (buffer_.size() > limit_) {
                ++skipped_;
                dropSLIPFrame();
            }
            break;
        case OSCTCPFramingMode::none:
            break;
    }
}

std::vector<Data> OSCTCPStreamDeframer::feed(DataView bytes) {
    std::vector<Data> frames;
    feed(bytes, frames);
    return frames;
}

void OSCTCPStreamDeframer::feed(DataView bytes, std::vector<Data>& frames) {
    switch (mode_) {
        case OSCTCPFramingMode::osc1_0:
            feedLengthHeader(bytes, frames);
            break;
        case OSCTCPFramingMode::osc1_1:
            feedSLIP(bytes, frames);
            break;
        case OSCTCPFramingMode::none:
            frames.emplace_back(bytes.begin(), bytes.end());
            break;
    }
}

void OSCTCPStreamDeframer::reset() {
    Data().swap(buffer_);
    headerCount_ = 0;
    bodyRemaining_ = 0;
    skippingBody_ = false;
    escaped_ = false;
    discarding_ = false;
}

void OSCTCPStreamDeframer::feedLengthHeader(DataView bytes, std::vector<Data>& frames) {
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        if (headerCount_ < 4) {
            // Whole frames inside this read go straight out, without passing through buffer_.
            if (headerCount_ == 0 && n - i >= 4) {
                std::uint64_t count = bigEndianLength(bytes.data() + i);
                if (count <= limit_ && count <= n - i - 4) {
                    auto body = bytes.subspan(i + 4, static_cast<std::size_t>(count));
                    frames.emplace_back(body.begin(), body.end());
                    i += 4 + static_cast<std::size_t>(count);
                    continue;
                }
            }
            header_[headerCount_++] = bytes[i++];
            if (headerCount_ == 4) beginBody(frames);
            continue;
        }
        std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(bodyRemaining_, n - i));
        if (!skippingBody_)
            buffer_.insert(buffer_.end(), bytes.begin() + i, bytes.begin() + i + take);
        i += take;
        bodyRemaining_ -= take;
        if (bodyRemaining_ == 0) finishBody(frames);
    }
}

void OSCTCPStreamDeframer::beginBody(std::vector<Data>& frames) {
    // Widened before use: 0xFFFFFFFC plus the header must not wrap.
    bodyRemaining_ = bigEndianLength(header_.data());
    skippingBody_ = bodyRemaining_ > limit_;
    if (bodyRemaining_ == 0) finishBody(frames);
}

void OSCTCPStreamDeframer::finishBody(std::vector<Data>& frames) {
    if (skippingBody_)
        ++skipped_;
    else
        frames.push_back(std::move(buffer_));
    buffer_ = Data();
    headerCount_ = 0;
    skippingBody_ = false;
}

void OSCTCPStreamDeframer::feedSLIP(DataView bytes, std::vector<Data>& frames) {
    const std::uint8_t* p = bytes.data();
    const std::uint8_t* const last = p + bytes.size();
    while (p < last) {
        if (discarding_) {
            p = std::find(p, last, slip::end);
            if (p == last) break;
            ++p;
            discarding_ = false;
            continue;
        }
        std::uint8_t byte = *p++;
        if (escaped_) {
            escaped_ = false;
            if (byte == slip::escEnd || byte == slip::escEsc) {
                std::uint8_t data = byte == slip::escEnd ? slip::end : slip::esc;
                appendSLIP(DataView(&data, 1));
                continue;
            }
            ++malformed_;
            dropSLIPFrame();
            // ESC END: that END closes the bad frame; otherwise discard up to the next END.
            if (byte == slip::end) discarding_ = false;
            continue;
        }
        if (byte == slip::end) {
            if (!buffer_.empty()) frames.push_back(std::move(buffer_));
            buffer_ = Data();
        } else if (byte == slip::esc) {
            escaped_ = true;
        } else {
            const std::uint8_t* runEnd = std::find_if(
                p, last, [](std::uint8_t b) { return b == slip::end || b == slip::esc; });
            appendSLIP(DataView(p - 1, runEnd));
            p = runEnd;
        }
    }
}

void OSCTCPStreamDeframer::appendSLIP(DataView run) {
    if (run.size() > limit_ - buffer_.size()) {
        ++skipped_;
        dropSLIPFrame();
        return;
    }
    buffer_.insert(buffer_.end(), run.begin(), run.end());
}

void OSCTCPStreamDeframer::dropSLIPFrame() {
    Data().swap(buffer_);
    escaped_ = false;
    discarding_ = true;
}

}  // namespace rozuri
