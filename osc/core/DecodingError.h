#pragma once

// The keyed-coding (JSON) decoding error of value types, after the platform's DecodingError.

#include <exception>
#include <string>
#include <vector>

namespace rozuri {

class DecodingError : public std::exception {
  public:
    enum class Kind { typeMismatch, valueNotFound, keyNotFound, dataCorrupted };

    DecodingError(Kind kind, std::vector<std::string> codingPath, std::string debugDescription)
        : kind_(kind),
          codingPath_(std::move(codingPath)),
          debugDescription_(std::move(debugDescription)) {}

    static DecodingError dataCorrupted(std::vector<std::string> codingPath,
                                       std::string debugDescription) {
        return DecodingError(Kind::dataCorrupted, std::move(codingPath),
                             std::move(debugDescription));
    }
    static DecodingError typeMismatch(std::vector<std::string> codingPath,
                                      std::string debugDescription) {
        return DecodingError(Kind::typeMismatch, std::move(codingPath),
                             std::move(debugDescription));
    }

    Kind kind() const { return kind_; }
    const std::vector<std::string>& codingPath() const { return codingPath_; }
    const std::string& debugDescription() const { return debugDescription_; }
    const char* what() const noexcept override { return debugDescription_.c_str(); }

  private:
    Kind kind_;
    std::vector<std::string> codingPath_;
    std::string debugDescription_;
};

}  // namespace rozuri
