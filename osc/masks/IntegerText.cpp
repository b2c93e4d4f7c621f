#include "osc/masks/IntegerText.h"

namespace rozuri::numeric {

std::optional<std::int64_t> intValue(std::string_view text) {
    return parseDecimal<std::int64_t>(text);
}
std::optional<std::int8_t> int8Value(std::string_view text) {
    return parseDecimal<std::int8_t>(text);
}
std::optional<std::int16_t> int16Value(std::string_view text) {
    return parseDecimal<std::int16_t>(text);
}
std::optional<std::int32_t> int32Value(std::string_view text) {
    return parseDecimal<std::int32_t>(text);
}
std::optional<std::int64_t> int64Value(std::string_view text) {
    return parseDecimal<std::int64_t>(text);
}
std::optional<std::uint64_t> uintValue(std::string_view text) {
    return parseDecimal<std::uint64_t>(text);
}
std::optional<std::uint8_t> uint8Value(std::string_view text) {
    return parseDecimal<std::uint8_t>(text);
}
std::optional<std::uint16_t> uint16Value(std::string_view text) {
    return parseDecimal<std::uint16_t>(text);
}
std::optional<std::uint32_t> uint32Value(std::string_view text) {
    return parseDecimal<std::uint32_t>(text);
}
std::optional<std::uint64_t> uint64Value(std::string_view text) {
    return parseDecimal<std::uint64_t>(text);
}

}  // namespace rozuri::numeric
