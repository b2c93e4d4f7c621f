#pragma once

#include <cstdio>
#include <string>

namespace desktop {

// A rectangle in Qt's global (virtual desktop) coordinates, in device-independent pixels.
struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    // "(0.0, 0.0, 1920.0, 1080.0)": every number with a fractional part.
    std::string description() const {
        return "(" + number(x) + ", " + number(y) + ", " + number(width) + ", " + number(height) +
               ")";
    }

    friend bool operator==(const Rect&, const Rect&) = default;

  private:
    static std::string number(double value) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.15g", value);
        std::string text = buffer;
        if (text.find_first_of(".eEn") == std::string::npos) text += ".0";
        return text;
    }
};

}  // namespace desktop
