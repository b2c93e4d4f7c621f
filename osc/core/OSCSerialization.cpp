#include "osc/core/OSCSerialization.h"

#include <algorithm>
#include <mutex>

#include "osc/core/OSCCoreValueTypes.h"

#include "osc/core/OSCArrayValue.h"
#include "osc/core/OSCImpulseValue.h"
#include "osc/core/OSCMIDIValue.h"
#include "osc/core/OSCNullValue.h"
#include "osc/core/OSCStringAltValue.h"
#include "osc/core/OSCTimeTag.h"

namespace rozuri {

const std::vector<const OSCValueDescriptor*>& OSCSerialization::builtInTypes() {
    static const std::vector<const OSCValueDescriptor*> types = [] {
        std::vector<const OSCValueDescriptor*> list = {
            &oscValueDescriptor<std::int32_t>(),
            &oscValueDescriptor<float>(),
            &oscValueDescriptor<std::string>(),
            &oscValueDescriptor<Data>(),
            &oscValueDescriptor<bool>(),
            &oscValueDescriptor<Character>(),
            &oscValueDescriptor<double>(),
            &oscValueDescriptor<std::int64_t>(),
            &oscValueDescriptor<OSCImpulseValue>(),
            &oscValueDescriptor<OSCMIDIValue>(),
            &oscValueDescriptor<OSCNullValue>(),
            &oscValueDescriptor<OSCStringAltValue>(),
            &oscValueDescriptor<OSCTimeTag>(),
            &oscValueDescriptor<OSCArrayValue>(),
        };
        return list;
    }();
    return types;
}

const std::shared_ptr<OSCSerialization>& OSCSerialization::shared() {
    static const std::shared_ptr<OSCSerialization> registry = create();
    return registry;
}

std::shared_ptr<OSCSerialization> OSCSerialization::create() {
    auto registry = createEmpty();
    for (const auto* type : builtInTypes()) registry->entries_.push_back({type->tagIdentity, type});
    registry->rebuildCacheLocked();
    return registry;
}

std::shared_ptr<OSCSerialization> OSCSerialization::createEmpty() {
    return std::make_shared<OSCSerialization>(Private{});
}

bool OSCSerialization::isTagRegisteredLocked(const Character& tag) const {
    for (const auto& e : entries_)
        if (e.identity.matches(tag)) return true;
    return false;
}

void OSCSerialization::registerType(const OSCValueDescriptor& type) {
    std::vector<Character> characters = type.tagIdentity.tagCharacters();
    std::unique_lock lock(mutex_);
    bool allTaken = !characters.empty();
    for (const auto& c : characters)
        if (!isTagRegisteredLocked(c)) allTaken = false;
    if (allTaken) throw OSCSerializationError::tagAlreadyRegistered();
    entries_.push_back({type.tagIdentity, &type});
    rebuildCacheLocked();
}

bool OSCSerialization::isTagRegistered(const Character& tag) const {
    std::shared_lock lock(mutex_);
    return isTagRegisteredLocked(tag);
}

void OSCSerialization::candidatesLocked(const Character& tag,
                                        std::vector<const OSCValueDescriptor*>& out) const {
    for (const auto& e : entries_)
        if (e.identity.matches(tag)) out.push_back(e.concreteType);
    for (const auto& e : entries_)
        if (e.identity.isVariadic()) out.push_back(e.concreteType);
}

void OSCSerialization::rebuildCacheLocked() {
    for (std::size_t c = 0; c < asciiCandidates_.size(); ++c) {
        asciiCandidates_[c].clear();
        candidatesLocked(Character(static_cast<char>(c)), asciiCandidates_[c]);
    }
}

namespace {
bool isOneASCIIByte(const Character& tag) {
    const std::string& text = tag.text();
    return text.size() == 1 && static_cast<unsigned char>(text[0]) < 0x80;
}
}  // namespace

void OSCSerialization::concreteTypes(const Character& tag,
                                     std::vector<const OSCValueDescriptor*>& out) const {
    out.clear();
    std::shared_lock lock(mutex_);
    if (isOneASCIIByte(tag)) {
        const auto& cached = asciiCandidates_[static_cast<unsigned char>(tag.text()[0])];
        out.assign(cached.begin(), cached.end());
        return;
    }
    candidatesLocked(tag, out);
}

std::size_t OSCSerialization::concreteTypes(const Character& tag,
                                            std::span<const OSCValueDescriptor*> buffer) const {
    if (isOneASCIIByte(tag)) {
        std::shared_lock lock(mutex_);
        const auto& cached = asciiCandidates_[static_cast<unsigned char>(tag.text()[0])];
        std::copy_n(cached.begin(), std::min(cached.size(), buffer.size()), buffer.begin());
        return cached.size();
    }
    std::vector<const OSCValueDescriptor*> all;
    concreteTypes(tag, all);
    std::copy_n(all.begin(), std::min(all.size(), buffer.size()), buffer.begin());
    return all.size();
}

std::vector<const OSCValueDescriptor*> OSCSerialization::concreteTypes(const Character& tag) const {
    std::vector<const OSCValueDescriptor*> out;
    concreteTypes(tag, out);
    return out;
}

std::vector<OSCSerialization::Entry> OSCSerialization::tagIdentities() const {
    std::shared_lock lock(mutex_);
    return entries_;
}

}  // namespace rozuri
