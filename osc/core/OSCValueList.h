#pragma once

// OSCValueList: a message's argument values, in order.
//
// Most messages carry a few values, so up to inlineCapacity of them are held in the list itself
// and only a longer list goes to the heap: decoding or building a small message costs no
// allocation for its list. It reads like std::vector<AnyOSCValue> (contiguous, so it also
// converts to std::span<const AnyOSCValue>) and converts to and from one.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <new>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <vector>

#include "osc/core/AnyOSCValue.h"

namespace rozuri {

class OSCValueList {
  public:
    using value_type = AnyOSCValue;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = AnyOSCValue&;
    using const_reference = const AnyOSCValue&;
    using pointer = AnyOSCValue*;
    using const_pointer = const AnyOSCValue*;
    using iterator = AnyOSCValue*;
    using const_iterator = const AnyOSCValue*;
    using reverse_iterator = std::reverse_iterator<iterator>;
    using const_reverse_iterator = std::reverse_iterator<const_iterator>;

    static constexpr size_type inlineCapacity = 4;

    // User-provided, so that value-initialising a list does not zero its inline storage.
    OSCValueList() noexcept {}  // NOLINT(modernize-use-equals-default)
    // The constructors that may throw delegate to the default one first, so that the
    // destructor frees what they made before the throw.
    OSCValueList(std::initializer_list<AnyOSCValue> values) : OSCValueList() {
        assign(values.begin(), values.end());
    }
    OSCValueList(const std::vector<AnyOSCValue>& values)  // NOLINT: callers pass vectors
        : OSCValueList() {
        assign(values.begin(), values.end());
    }
    OSCValueList(std::vector<AnyOSCValue>&& values)  // NOLINT
        : OSCValueList() {
        reserve(values.size());
        for (AnyOSCValue& v : values) emplace_back(std::move(v));
    }
    OSCValueList(std::span<const AnyOSCValue> values) : OSCValueList() {
        assign(values.begin(), values.end());
    }
    template <std::input_iterator It>
    OSCValueList(It first, It last) : OSCValueList() {
        assign(first, last);
    }

    OSCValueList(const OSCValueList& other) : OSCValueList() { assign(other.begin(), other.end()); }
    OSCValueList(OSCValueList&& other) noexcept { takeFrom(other); }
    OSCValueList& operator=(const OSCValueList& other) {
        if (this != &other) {
            OSCValueList copy(other);
            *this = std::move(copy);
        }
        return *this;
    }
    OSCValueList& operator=(OSCValueList&& other) noexcept {
        if (this != &other) {
            release();
            takeFrom(other);
        }
        return *this;
    }
    OSCValueList& operator=(std::initializer_list<AnyOSCValue> values) {
        return *this = OSCValueList(values);
    }
    ~OSCValueList() {
        std::destroy(begin(), end());
        if (!isInline()) std::allocator<AnyOSCValue>().deallocate(data_, capacity_);
    }

    // As a vector, for code that keeps one.
    operator std::vector<AnyOSCValue>() const {  // NOLINT
        return std::vector<AnyOSCValue>(begin(), end());
    }

    size_type size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    size_type capacity() const noexcept { return capacity_; }
    // Whether the values live in the list itself (no heap block).
    bool isInline() const noexcept { return data_ == local(); }

    AnyOSCValue* data() noexcept { return data_; }
    const AnyOSCValue* data() const noexcept { return data_; }
    iterator begin() noexcept { return data_; }
    iterator end() noexcept { return data_ + size_; }
    const_iterator begin() const noexcept { return data_; }
    const_iterator end() const noexcept { return data_ + size_; }
    const_iterator cbegin() const noexcept { return begin(); }
    const_iterator cend() const noexcept { return end(); }
    reverse_iterator rbegin() noexcept { return reverse_iterator(end()); }
    reverse_iterator rend() noexcept { return reverse_iterator(begin()); }
    const_reverse_iterator rbegin() const noexcept { return const_reverse_iterator(end()); }
    const_reverse_iterator rend() const noexcept { return const_reverse_iterator(begin()); }

    AnyOSCValue& operator[](size_type i) noexcept { return data_[i]; }
    const AnyOSCValue& operator[](size_type i) const noexcept { return data_[i]; }
    const AnyOSCValue& at(size_type i) const {
        if (i >= size_) throw std::out_of_range("OSCValueList::at");
        return data_[i];
    }
    AnyOSCValue& at(size_type i) {
        if (i >= size_) throw std::out_of_range("OSCValueList::at");
        return data_[i];
    }
    AnyOSCValue& front() noexcept { return data_[0]; }
    const AnyOSCValue& front() const noexcept { return data_[0]; }
    AnyOSCValue& back() noexcept { return data_[size_ - 1]; }
    const AnyOSCValue& back() const noexcept { return data_[size_ - 1]; }

    void reserve(size_type n) {
        if (n > capacity_) grow(n);
    }
    void clear() noexcept {
        std::destroy(begin(), end());
        size_ = 0;
    }
    void push_back(const AnyOSCValue& v) { emplace_back(v); }
    void push_back(AnyOSCValue&& v) { emplace_back(std::move(v)); }
    template <class... Args>
    AnyOSCValue& emplace_back(Args&&... args) {
        if (size_ == capacity_) {
            // The value may come from this list: make it before the storage moves.
            AnyOSCValue v(std::forward<Args>(args)...);
            grow(nextCapacity(size_ + 1));
            return *::new (static_cast<void*>(data_ + size_++)) AnyOSCValue(std::move(v));
        }
        return *::new (static_cast<void*>(data_ + size_++))
            AnyOSCValue(std::forward<Args>(args)...);
    }
    void pop_back() noexcept { std::destroy_at(data_ + --size_); }
    void resize(size_type n, const AnyOSCValue& fill) {
        if (n < size_) {
            std::destroy(begin() + n, end());
            size_ = n;
            return;
        }
        AnyOSCValue value(fill);  // `fill` may be in this list
        reserve(n);
        while (size_ < n) emplace_back(value);
    }
    iterator insert(const_iterator pos, AnyOSCValue v) {
        size_type at = static_cast<size_type>(pos - begin());
        emplace_back(std::move(v));
        std::rotate(begin() + at, end() - 1, end());
        return begin() + at;
    }
    // Like std::vector: a value or a growth that throws leaves the list as it was.
    template <std::input_iterator It>
    iterator insert(const_iterator pos, It first, It last) {
        size_type at = static_cast<size_type>(pos - begin());
        // Made apart first (the range may also lie in this list); moving them in cannot throw.
        OSCValueList added(first, last);
        if (added.empty()) return begin() + at;
        const size_type old = size_;
        if (old + added.size_ > capacity_) grow(nextCapacity(old + added.size_));
        std::uninitialized_move(added.begin(), added.end(), end());
        size_ += added.size_;
        std::rotate(begin() + at, begin() + old, end());
        return begin() + at;
    }
    iterator insert(const_iterator pos, std::initializer_list<AnyOSCValue> values) {
        return insert(pos, values.begin(), values.end());
    }
    iterator erase(const_iterator first, const_iterator last) {
        auto f = begin() + (first - begin());
        auto l = begin() + (last - begin());
        if (f == l) return f;
        iterator newEnd = std::move(l, end(), f);
        std::destroy(newEnd, end());
        size_ = static_cast<size_type>(newEnd - begin());
        return f;
    }
    iterator erase(const_iterator pos) { return erase(pos, pos + 1); }
    template <std::input_iterator It>
    void assign(It first, It last) {
        clear();
        if constexpr (std::is_same_v<It, const AnyOSCValue*> || std::is_same_v<It, AnyOSCValue*>) {
            // Copies of values never throw: straight into place.
            auto n = static_cast<size_type>(last - first);
            reserve(n);
            std::uninitialized_copy(first, last, data_);
            size_ = n;
            return;
        }
        if constexpr (std::forward_iterator<It>)
            reserve(static_cast<size_type>(std::distance(first, last)));
        for (; first != last; ++first) emplace_back(*first);
    }
    void swap(OSCValueList& other) noexcept {
        OSCValueList tmp(std::move(other));
        other = std::move(*this);
        *this = std::move(tmp);
    }

    friend bool operator==(const OSCValueList& a, const OSCValueList& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }
    friend bool operator==(const OSCValueList& a, const std::vector<AnyOSCValue>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end());
    }

  private:
    // Storage for values, placement-constructed in it.
    AnyOSCValue* local() noexcept { return reinterpret_cast<AnyOSCValue*>(local_); }
    const AnyOSCValue* local() const noexcept {
        return reinterpret_cast<const AnyOSCValue*>(local_);
    }
    size_type nextCapacity(size_type needed) const {
        return std::max<size_type>(needed, 2 * capacity_);
    }
    void grow(size_type n);
    void release() noexcept;
    void takeFrom(OSCValueList& other) noexcept {
        if (!other.isInline()) {
            takeBlockFrom(other);
            return;
        }
        for (size_type i = 0; i < other.size_; ++i) {
            ::new (static_cast<void*>(local() + i)) AnyOSCValue(std::move(other.data_[i]));
            std::destroy_at(other.data_ + i);
        }
        size_ = other.size_;
        other.size_ = 0;
    }
    void takeBlockFrom(OSCValueList& other) noexcept;

    AnyOSCValue* data_ = local();
    size_type size_ = 0;
    size_type capacity_ = inlineCapacity;
    alignas(AnyOSCValue) unsigned char local_[inlineCapacity * sizeof(AnyOSCValue)];
};

}  // namespace rozuri
