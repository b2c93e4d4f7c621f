#pragma once

#include <variant>

#include <QImage>

#include "platform/foundation/URL.h"

namespace mantleshade {

// What one cover window shows.
class OverlayContent {
  public:
    enum class Kind { image, video, blackout };

    // The image, scaled to fit and centred on black.
    static OverlayContent image(QImage image) { return OverlayContent(Image{std::move(image)}); }
    // The file's video, muted and looping, filling the screen.
    static OverlayContent video(foundation::URL url) {
        return OverlayContent(Video{std::move(url)});
    }
    // Plain black.
    static OverlayContent blackout() { return OverlayContent(Blackout{}); }

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    // Null unless the content is of that kind.
    const QImage* imageValue() const {
        auto* v = std::get_if<Image>(&value_);
        return v ? &v->image : nullptr;
    }
    const foundation::URL* videoURL() const {
        auto* v = std::get_if<Video>(&value_);
        return v ? &v->url : nullptr;
    }

  private:
    struct Image {
        QImage image;
    };
    struct Video {
        foundation::URL url;
    };
    struct Blackout {};
    using Value = std::variant<Image, Video, Blackout>;

    explicit OverlayContent(Value value) : value_(std::move(value)) {}
    Value value_;
};

}  // namespace mantleshade
