#pragma once

// The process-wide registry of value types by type tag, in registration order. It starts with the
// 14 built-in types; further types can be registered at any time (readers take a shared lock).

#include <array>
#include <memory>
#include <shared_mutex>
#include <span>
#include <vector>

#include "osc/core/AnyOSCValue.h"
#include "osc/core/Character.h"
#include "osc/core/OSCSerializationError.h"
#include "osc/core/OSCValueTagIdentity.h"

namespace rozuri {

class OSCSerialization {
  public:
    struct Entry {
        OSCValueTagIdentity identity;
        const OSCValueDescriptor* concreteType;
    };

    // The shared registry, made on first use.
    static const std::shared_ptr<OSCSerialization>& shared();
    // A registry holding the built-in types.
    static std::shared_ptr<OSCSerialization> create();
    // A registry holding nothing.
    static std::shared_ptr<OSCSerialization> createEmpty();

    // Int32, Float, String, Data, Bool, Character, Double, Int64, OSCImpulseValue, OSCMIDIValue,
    // OSCNullValue, OSCStringAltValue, OSCTimeTag, OSCArrayValue.
    static const std::vector<const OSCValueDescriptor*>& builtInTypes();

    // Throws OSCSerializationError when every tag character of the type is already registered.
    void registerType(const OSCValueDescriptor& type);
    template <OSCValue T>
    void registerType() {
        registerType(oscValueDescriptor<T>());
    }

    bool isTagRegistered(const Character& tag) const;
    // Candidate types for a tag: the types owning it, then every variadic type, each group in
    // registration order (so a later variadic type never shadows a tag's owner).
    std::vector<const OSCValueDescriptor*> concreteTypes(const Character& tag) const;
    // Same, into a caller's buffer (cleared first); avoids an allocation per tag.
    void concreteTypes(const Character& tag, std::vector<const OSCValueDescriptor*>& out) const;
    // Same, into a fixed buffer: returns the number of candidates, which may exceed the buffer's
    // size (then only the first ones were written).
    std::size_t concreteTypes(const Character& tag,
                              std::span<const OSCValueDescriptor*> buffer) const;
    // A copy of the entries.
    std::vector<Entry> tagIdentities() const;

    OSCSerialization(const OSCSerialization&) = delete;
    OSCSerialization& operator=(const OSCSerialization&) = delete;

  private:
    struct Private {};

  public:
    explicit OSCSerialization(Private) {}

  private:
    mutable std::shared_mutex mutex_;
    std::vector<Entry> entries_;
    // Candidates for each one-byte ASCII tag, rebuilt on registration.
    std::array<std::vector<const OSCValueDescriptor*>, 128> asciiCandidates_;
    bool isTagRegisteredLocked(const Character& tag) const;
    void candidatesLocked(const Character& tag, std::vector<const OSCValueDescriptor*>& out) const;
    void rebuildCacheLocked();
};

}  // namespace rozuri
