#include "osc/core/OSCValueList.h"

namespace rozuri {

void OSCValueList::grow(size_type n) {
    std::allocator<AnyOSCValue> alloc;
    AnyOSCValue* fresh = alloc.allocate(n);
    // AnyOSCValue moves without throwing.
    std::uninitialized_move(begin(), end(), fresh);
    std::destroy(begin(), end());
    if (!isInline()) alloc.deallocate(data_, capacity_);
    data_ = fresh;
    capacity_ = n;
}

void OSCValueList::release() noexcept {
    std::destroy(begin(), end());
    if (!isInline()) std::allocator<AnyOSCValue>().deallocate(data_, capacity_);
    data_ = local();
    size_ = 0;
    capacity_ = inlineCapacity;
}

// A heap block changes hands; `other` is left empty and inline.
void OSCValueList::takeBlockFrom(OSCValueList& other) noexcept {
    data_ = other.data_;
    size_ = other.size_;
    capacity_ = other.capacity_;
    other.data_ = other.local();
    other.size_ = 0;
    other.capacity_ = inlineCapacity;
}

}  // namespace rozuri
