#pragma once

#include <functional>
#include <optional>
#include <string>

namespace foundation {

// Answers the translation of `key` in `table`, or nullopt to fall back.
using LocalizationProvider =
    std::function<std::optional<std::string>(const std::string& table, const std::string& key)>;

// Replaces the process-wide provider; an empty function restores the default (no translations).
void setLocalizationProvider(LocalizationProvider provider);

// The provider's text for (table, key); without one, `defaultValue`, or `key` when the
// default is empty. Thread-safe.
std::string localizedString(const std::string& table, const std::string& key,
                            const std::string& defaultValue = {});

}  // namespace foundation
