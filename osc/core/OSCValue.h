#pragma once

// The value protocols. A C++ type becomes an OSC value type by a specialisation of
// OSCValueTraits<T>; the concepts below check what the specialisation provides. See the comment
// at the top of AnyOSCValue.h for a worked example.
//
// Members of OSCValueTraits<T>, all static:
//   name                 std::string_view, the unqualified type name ("Int32")
//   oscValueToken()      OSCValueToken                          (OSCValueMaskable)
//   oscTagIdentity()     const OSCValueTagIdentity&             (OSCValueEncodable)
//   oscEncoding()        one of the three encoder blocks of T   (OSCValueEncodable)
//   oscDecoding()        one of the three decoder blocks of T   (OSCValueDecodable)
// Optional:
//   description(const T&), debugDescription(const T&)  std::string (default: the name)
//   hash(const T&)       std::size_t (default: std::hash<T>); equal values must hash alike
//   using CoreOSCValue   the core type an interpolated value travels as

#include <concepts>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

#include "osc/core/OSCValueCoderBlocks.h"
#include "osc/core/OSCValueTagIdentity.h"
#include "osc/core/OSCValueToken.h"

namespace rozuri {

template <class T>
struct OSCValueTraits;  // no value type unless specialised

// Whether the traits of T are declared where this is asked. A value test for a type whose
// traits are out of sight would quietly answer "no" in that file alone.
template <class T>
concept OSCValueTraitsVisible = requires {
    sizeof(OSCValueTraits<T>);
};

template <class T>
concept OSCValueMaskable = requires {
    { OSCValueTraits<T>::oscValueToken() } -> std::convertible_to<OSCValueToken>;
};

// A block is any type naming the value type it produces or consumes. The message coders run
// only the six structures of OSCValueCoderBlocks.h and refuse other blocks when they meet them.
template <class B>
concept OSCValueDecoderBlock = requires {
    typename B::OSCDecoded;
};
template <class B>
concept OSCValueEncoderBlock = requires {
    typename B::OSCEncoded;
};

// The block types a value type hands out.
template <class T>
using OSCValueDecodingBlock = std::remove_cvref_t<decltype(OSCValueTraits<T>::oscDecoding())>;
template <class T>
using OSCValueEncodingBlock = std::remove_cvref_t<decltype(OSCValueTraits<T>::oscEncoding())>;

// A block for another type would store or read the wrong type, so the block's type must be T.
template <class T>
concept OSCValueEncodable = requires {
    { OSCValueTraits<T>::oscTagIdentity() } -> std::convertible_to<const OSCValueTagIdentity&>;
    OSCValueTraits<T>::oscEncoding();
}
&&OSCValueEncoderBlock<OSCValueEncodingBlock<T>>&&
    std::same_as<typename OSCValueEncodingBlock<T>::OSCEncoded, T>;

template <class T>
concept OSCValueDecodable = requires {
    OSCValueTraits<T>::oscDecoding();
}
&&OSCValueDecoderBlock<OSCValueDecodingBlock<T>>&&
    std::same_as<typename OSCValueDecodingBlock<T>::OSCDecoded, T>;

template <class T>
concept OSCValueCodable = OSCValueDecodable<T> && OSCValueEncodable<T>;

namespace detail {
template <class T>
concept HasTraitsHash = requires(const T& v) {
    { OSCValueTraits<T>::hash(v) } -> std::convertible_to<std::size_t>;
};
template <class T>
concept HasStdHash = requires(const T& v) {
    { std::hash<T>{}(v) } -> std::convertible_to<std::size_t>;
};
}  // namespace detail

template <class T>
concept OSCValue = OSCValueCodable<T> && OSCValueMaskable<T> && std::equality_comparable<T> &&
    std::copy_constructible<T> &&(detail::HasTraitsHash<T> || detail::HasStdHash<T>)&&requires {
    { OSCValueTraits<T>::name } -> std::convertible_to<std::string_view>;
};

// Travels as another (core) value type; see OSCInterpolatedValue.h.
template <class T>
concept OSCInterpolatedValue = OSCValue<T> && requires {
    typename OSCValueTraits<T>::CoreOSCValue;
    requires OSCValue<typename OSCValueTraits<T>::CoreOSCValue>;
};

}  // namespace rozuri
