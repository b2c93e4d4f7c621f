#pragma once

// AnyOSCValue: one OSC argument of any value type; immutable, cheap to copy.
//
// Each value type has one static descriptor (OSCValueDescriptor) made from its OSCValueTraits:
// name, tag identity, token, the erased coder blocks, equality, hashing, descriptions and numeric
// category. The registry (OSCSerialization) stores descriptor pointers, so a type added here, by
// the library or by a user, works like the built-ins.
//
// Equality is "same dynamic type and equal value": Int32(1) != Int64(1), Int32(1) != Double(1.0),
// Int != Int64. Equal values hash alike (-0.0 and 0.0 included). NaN is unequal to itself.
//
// Adding a value type (example: a tag 'r' carrying a 32-bit colour):
//
//   struct Colour { std::uint32_t rgba; friend bool operator==(Colour, Colour) = default; };
//   template <> struct rozuri::OSCValueTraits<Colour> {
//       static constexpr std::string_view name = "Colour";
//       static OSCValueToken oscValueToken() { return OSCValueToken::int32; }
//       static const OSCValueTagIdentity& oscTagIdentity() {
//           static const auto identity = OSCValueTagIdentity::tag('r');
//           return identity;
//       }
//       static constexpr OSCValueStaticTagEncoder<Colour> oscEncoding() {
//           return {[](const Colour& c) {
//               return OSCEncodedTag{'r', dataRepresentation(c.rgba, NumberEndianness::bigEndian)};
//           }};
//       }
//       static constexpr OSCValueStaticTagDecoder<Colour> oscDecoding() {
//           return {[](OSCValueDecoder& d) {
//               return Colour{static_cast<std::uint32_t>(d.readInt32())};
//           }};
//       }
//       static std::size_t hash(const Colour& c) { return std::hash<std::uint32_t>{}(c.rgba); }
//       static std::string description(const Colour& c) { return std::to_string(c.rgba); }
//   };
//   OSCSerialization::shared()->registerType<Colour>();   // so that received 'r' decodes
//
// The block kind (static, variable or variadic) must match the tag identity (tag, variable,
// variadic). Blocks are capture-free lambdas. A nesting type (like the array) decodes its elements
// with decodeValue() on the same decoder, counting its level in decoder.nestingDepth (refuse more
// than kMaxValueNestingDepth), and encodes them with encodeValue(), which bounds the depth itself.
// Values of at most 16 trivially copyable bytes (every number, Bool, time tag, MIDI, impulse,
// null) are stored inline, others in a shared box; copies of a boxed value share the box.

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "osc/core/NumericTypes.h"
#include "osc/core/OSCValue.h"

namespace rozuri {

class AnyOSCValue;

enum class OSCNumericCategory : std::uint8_t {
    none,
    boolean,
    signedInteger,
    unsignedInteger,
    floatingPoint,
};

struct OSCValueDescriptor {
    std::string_view name;  // "Int32"
    const std::type_info* type = nullptr;
    OSCValueTagIdentity tagIdentity = OSCValueTagIdentity::variadic(std::nullopt, std::nullopt);
    OSCValueToken token = OSCValueToken::int32;
    OSCCoderBlockKind encoderKind = OSCCoderBlockKind::foreign;
    OSCCoderBlockKind decoderKind = OSCCoderBlockKind::foreign;
    bool storedInline = false;
    bool interpolated = false;
    // The core type an interpolated value travels as; null otherwise.
    const OSCValueDescriptor* (*coreType)() = nullptr;

    // Erased blocks; null unless of that kind. `value` points at the stored T.
    OSCEncodedTag (*encodeTag)(const void* value) = nullptr;    // static and variable
    OSCEncodedTags (*encodeTags)(const void* value) = nullptr;  // variadic
    AnyOSCValue (*decodeStatic)(OSCValueDecoder&) = nullptr;
    AnyOSCValue (*decodeVariable)(const Character& tag, OSCValueDecoder&) = nullptr;
    std::optional<OSCDecodedRun<AnyOSCValue>> (*decodeVariadic)(std::span<const Character> tags,
                                                                OSCValueDecoder&) = nullptr;

    bool (*equal)(const void* a, const void* b) = nullptr;
    std::size_t (*hash)(const void* value) = nullptr;
    std::string (*description)(const void* value) = nullptr;
    std::string (*debugDescription)(const void* value) = nullptr;

    // Numbers: the category and the value in the widest form of that category.
    OSCNumericCategory numericCategory = OSCNumericCategory::none;
    std::int64_t (*signedValue)(const void* value) = nullptr;     // boolean, signedInteger
    std::uint64_t (*unsignedValue)(const void* value) = nullptr;  // unsignedInteger
    long double (*floatingValue)(const void* value) = nullptr;    // floatingPoint
};

template <OSCValue T>
const OSCValueDescriptor& oscValueDescriptor();

class AnyOSCValue {
  public:
    template <class T>
    requires(!std::same_as<std::remove_cvref_t<T>, AnyOSCValue> && OSCValue<std::remove_cvref_t<T>>)
        AnyOSCValue(T&& value)  // NOLINT: values convert implicitly, as in a literal value list
        : descriptor_(&oscValueDescriptor<std::remove_cvref_t<T>>()) {
        using U = std::remove_cvref_t<T>;
        if constexpr (storesInline<U>()) {
            inline_ = true;
            // Copies take all 16 bytes: none may be left undefined.
            std::memset(local_, 0, sizeof local_);
            ::new (static_cast<void*>(local_)) U(std::forward<T>(value));
        } else {
            ::new (static_cast<void*>(&box_))
                Box(std::make_shared<const U>(std::forward<T>(value)));
        }
    }
    AnyOSCValue(const char* text);       // NOLINT: a String value
    AnyOSCValue(std::string_view text);  // NOLINT: a String value

    AnyOSCValue(const AnyOSCValue& other) noexcept
        : descriptor_(other.descriptor_), inline_(other.inline_) {
        if (inline_)
            std::memcpy(local_, other.local_, sizeof local_);
        else
            ::new (static_cast<void*>(&box_)) Box(other.box_);
    }
    AnyOSCValue(AnyOSCValue&& other) noexcept
        : descriptor_(other.descriptor_), inline_(other.inline_) {
        if (inline_)
            std::memcpy(local_, other.local_, sizeof local_);
        else
            ::new (static_cast<void*>(&box_)) Box(std::move(other.box_));
    }
    AnyOSCValue& operator=(const AnyOSCValue& other) noexcept {
        if (this != &other) {
            AnyOSCValue copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    AnyOSCValue& operator=(AnyOSCValue&& other) noexcept {
        if (this != &other) {
            this->~AnyOSCValue();
            ::new (static_cast<void*>(this)) AnyOSCValue(std::move(other));
        }
        return *this;
    }
    ~AnyOSCValue() {
        if (!inline_) box_.~Box();
    }

    // The stored value when its dynamic type is exactly T.
    template <class T>
    const T* get_if() const noexcept {
        if (!is<T>()) return nullptr;
        return static_cast<const T*>(rawValue());
    }
    // T's traits must be visible here (for the core types: include OSCCoreValueTypes.h).
    template <class T>
    bool is() const noexcept {
        static_assert(OSCValueTraitsVisible<T>,
                      "AnyOSCValue::is<T>/get_if<T>/get<T>: OSCValueTraits<T> is not declared "
                      "here; include the header of T's value type");
        if constexpr (OSCValue<T>) {
            // The type's identity alone: no call, no one-time initialisation on this path.
            return descriptor_->type == &typeid(T) || *descriptor_->type == typeid(T);
        } else {
            return false;
        }
    }
    // The stored value; throws std::bad_cast for another type.
    template <class T>
    const T& get() const {
        const T* p = get_if<T>();
        if (!p) throw std::bad_cast();
        return *p;
    }

    const OSCValueDescriptor& descriptor() const noexcept { return *descriptor_; }
    std::string_view typeName() const noexcept { return descriptor_->name; }
    const void* rawValue() const noexcept {
        return inline_ ? static_cast<const void*>(local_) : box_.get();
    }

    std::string description() const { return descriptor_->description(rawValue()); }
    std::string debugDescription() const { return descriptor_->debugDescription(rawValue()); }
    std::size_t hash() const { return descriptor_->hash(rawValue()); }

    friend bool operator==(const AnyOSCValue& a, const AnyOSCValue& b) {
        if (a.descriptor_ != b.descriptor_ && *a.descriptor_->type != *b.descriptor_->type)
            return false;
        return a.descriptor_->equal(a.rawValue(), b.rawValue());
    }

    template <class U>
    static constexpr bool storesInline() {
        return std::is_trivially_copyable_v<U> && sizeof(U) <= 16 && alignof(U) <= 16;
    }

  private:
    using Box = std::shared_ptr<const void>;
    // 32 bytes: a value of at most 16 trivially copyable bytes lives in local_, copied as bytes;
    // any other value in a shared immutable box.
    const OSCValueDescriptor* descriptor_;
    bool inline_ = false;
    union {
        Box box_;
        alignas(16) unsigned char local_[16];
    };
};

// Equal counts and equal values at each position.
bool valueArraysEqual(std::span<const AnyOSCValue> a, std::span<const AnyOSCValue> b);
// Order-dependent hash of a value list, consistent with valueArraysEqual.
std::size_t hashValues(std::span<const AnyOSCValue> values);

namespace detail {

template <class T>
const T& stored(const void* p) {
    return *static_cast<const T*>(p);
}

template <class T>
concept HasTraitsDescription = requires(const T& v) {
    { OSCValueTraits<T>::description(v) } -> std::convertible_to<std::string>;
};
template <class T>
concept HasTraitsDebugDescription = requires(const T& v) {
    { OSCValueTraits<T>::debugDescription(v) } -> std::convertible_to<std::string>;
};

template <class T>
std::size_t hashOf(const T& v) {
    if constexpr (HasTraitsHash<T>) {
        return OSCValueTraits<T>::hash(v);
    } else {
        return std::hash<T>{}(v);
    }
}

template <class T>
std::string descriptionOf(const T& v) {
    if constexpr (HasTraitsDescription<T>) {
        return OSCValueTraits<T>::description(v);
    } else {
        return std::string(OSCValueTraits<T>::name);
    }
}

template <class T>
std::string debugDescriptionOf(const T& v) {
    if constexpr (HasTraitsDebugDescription<T>) {
        return OSCValueTraits<T>::debugDescription(v);
    } else {
        return descriptionOf(v);
    }
}

template <class T>
struct StrongRep {
    using type = void;
};
template <class Rep, class Tag>
struct StrongRep<StrongNumber<Rep, Tag>> {
    using type = Rep;
};

template <class T>
auto numericRep(const T& v) {
    if constexpr (std::is_arithmetic_v<T>) {
        return v;
    } else {
        return v.value;
    }
}

// Runs once per type; kept out of line so that oscValueDescriptor() stays small enough to be
// inlined into every value construction.
template <OSCValue T>
[[gnu::noinline]] OSCValueDescriptor makeDescriptor() {
    using Traits = OSCValueTraits<T>;
    OSCValueDescriptor d;
    d.name = Traits::name;
    d.type = &typeid(T);
    d.tagIdentity = Traits::oscTagIdentity();
    d.token = Traits::oscValueToken();
    d.storedInline = AnyOSCValue::storesInline<T>();

    using EncBlock = std::remove_cvref_t<decltype(Traits::oscEncoding())>;
    using DecBlock = std::remove_cvref_t<decltype(Traits::oscDecoding())>;
    d.encoderKind = encoderBlockKind<T, EncBlock>;
    d.decoderKind = decoderBlockKind<T, DecBlock>;
    if constexpr (encoderBlockKind<T, EncBlock> == OSCCoderBlockKind::staticTag ||
                  encoderBlockKind<T, EncBlock> == OSCCoderBlockKind::variableTag) {
        d.encodeTag = [](const void* p) { return Traits::oscEncoding().block(stored<T>(p)); };
    } else if constexpr (encoderBlockKind<T, EncBlock> == OSCCoderBlockKind::variadicTag) {
        d.encodeTags = [](const void* p) { return Traits::oscEncoding().block(stored<T>(p)); };
    }
    if constexpr (decoderBlockKind<T, DecBlock> == OSCCoderBlockKind::staticTag) {
        d.decodeStatic = [](OSCValueDecoder& dec) -> AnyOSCValue {
            return AnyOSCValue(Traits::oscDecoding().block(dec));
        };
    } else if constexpr (decoderBlockKind<T, DecBlock> == OSCCoderBlockKind::variableTag) {
        d.decodeVariable = [](const Character& tag, OSCValueDecoder& dec) -> AnyOSCValue {
            return AnyOSCValue(Traits::oscDecoding().block(tag, dec));
        };
    } else if constexpr (decoderBlockKind<T, DecBlock> == OSCCoderBlockKind::variadicTag) {
        d.decodeVariadic = [](std::span<const Character> tags,
                              OSCValueDecoder& dec) -> std::optional<OSCDecodedRun<AnyOSCValue>> {
            auto run = Traits::oscDecoding().block(tags, dec);
            if (!run) return std::nullopt;
            return OSCDecodedRun<AnyOSCValue>{run->tagCount, AnyOSCValue(std::move(run->value))};
        };
    }

    d.equal = [](const void* a, const void* b) { return stored<T>(a) == stored<T>(b); };
    d.hash = [](const void* p) { return hashOf(stored<T>(p)); };
    d.description = [](const void* p) { return descriptionOf(stored<T>(p)); };
    d.debugDescription = [](const void* p) { return debugDescriptionOf(stored<T>(p)); };

    if constexpr (OSCInterpolatedValue<T>) {
        d.interpolated = true;
        d.coreType = [] { return &oscValueDescriptor<typename Traits::CoreOSCValue>(); };
    }

    using Rep = std::conditional_t<std::is_arithmetic_v<T>, T, typename StrongRep<T>::type>;
    if constexpr (std::is_same_v<Rep, bool>) {
        d.numericCategory = OSCNumericCategory::boolean;
        d.signedValue = [](const void* p) -> std::int64_t { return stored<T>(p) ? 1 : 0; };
    } else if constexpr (std::is_integral_v<Rep> && std::is_signed_v<Rep>) {
        d.numericCategory = OSCNumericCategory::signedInteger;
        d.signedValue = [](const void* p) -> std::int64_t { return numericRep(stored<T>(p)); };
    } else if constexpr (std::is_integral_v<Rep>) {
        d.numericCategory = OSCNumericCategory::unsignedInteger;
        d.unsignedValue = [](const void* p) -> std::uint64_t { return numericRep(stored<T>(p)); };
    } else if constexpr (std::is_floating_point_v<Rep>) {
        d.numericCategory = OSCNumericCategory::floatingPoint;
        d.floatingValue = [](const void* p) -> long double { return numericRep(stored<T>(p)); };
    }
    return d;
}

}  // namespace detail

// The one descriptor of value type T, made on first use. Inlined: every value construction
// asks for it.
template <OSCValue T>
[[gnu::always_inline]] inline const OSCValueDescriptor& oscValueDescriptor() {
    static const OSCValueDescriptor descriptor = detail::makeDescriptor<T>();
    return descriptor;
}

}  // namespace rozuri

template <>
struct std::hash<rozuri::AnyOSCValue> {
    std::size_t operator()(const rozuri::AnyOSCValue& v) const { return v.hash(); }
};
