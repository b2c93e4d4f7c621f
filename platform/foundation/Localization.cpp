#include "platform/foundation/Localization.h"

#include <memory>
#include <mutex>

#include "platform/dispatch/Immortal.h"

namespace foundation {

namespace {

// Never destroyed, so that threads still running at exit can look texts up.
std::mutex& providerMutex() {
    static dispatch::Immortal<std::mutex> mutex;
    return mutex.get();
}

// Held by shared_ptr so a lookup can run the provider without holding the lock.
std::shared_ptr<const LocalizationProvider>& providerSlot() {
    static dispatch::Immortal<std::shared_ptr<const LocalizationProvider>> slot;
    return slot.get();
}

}  // namespace

void setLocalizationProvider(LocalizationProvider provider) {
    auto next = provider ? std::make_shared<const LocalizationProvider>(std::move(provider))
                         : std::shared_ptr<const LocalizationProvider>();
    std::lock_guard lock(providerMutex());
    providerSlot() = std::move(next);
}

std::string localizedString(const std::string& table, const std::string& key,
                            const std::string& defaultValue) {
    std::shared_ptr<const LocalizationProvider> provider;
    {
        std::lock_guard lock(providerMutex());
        provider = providerSlot();
    }
    if (provider) {
        if (auto text = (*provider)(table, key)) return *text;
    }
    return defaultValue.empty() ? key : defaultValue;
}

}  // namespace foundation
