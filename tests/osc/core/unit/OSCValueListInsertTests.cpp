#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCValueList.h"

// The replaced operator delete frees what the replaced operator new took from malloc.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

// Allocation failure on demand for this test executable: while armed, the allocation after
// `allocationsLeft` more succeed throws. Off, it is plain malloc.
namespace {
thread_local long allocationsLeft = -1;

void* allocate(std::size_t n) {
    if (allocationsLeft == 0) return nullptr;
    if (allocationsLeft > 0) --allocationsLeft;
    return std::malloc(n == 0 ? 1 : n);
}
}  // namespace

void* operator new(std::size_t n) {
    if (void* p = allocate(n)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return allocate(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace rozuri {
namespace {

// Hands out strings one at a time, as a stream would: every value is a fresh allocation, and
// the range cannot be measured beforehand.
struct StringStream {
    using iterator_category = std::input_iterator_tag;
    using value_type = AnyOSCValue;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = AnyOSCValue;
    int at = 0;
    int throwAt = -1;  // the value whose making throws
    AnyOSCValue operator*() const {
        if (at == throwAt) throw std::runtime_error("no value");
        return AnyOSCValue(std::string(40, static_cast<char>('0' + at)));
    }
    StringStream& operator++() {
        ++at;
        return *this;
    }
    StringStream operator++(int) {
        auto old = *this;
        ++at;
        return old;
    }
    bool operator==(const StringStream& other) const { return at == other.at; }
};

OSCValueList startingList() {
    return {AnyOSCValue(std::string("a")), AnyOSCValue(std::string("b"))};
}

// An insert that throws, whether a value cannot be made or the list cannot grow, leaves the
// list as it was; one that does not throw puts the values in place.
TEST(OSCValueListInsert, ThrowingInsertLeavesTheListUnchanged) {
    const std::vector<AnyOSCValue> before = startingList();
    for (int failure = 0; failure < 40; ++failure) {
        for (int count : {3, 6, 20}) {
            for (bool byValue : {false, true}) {
                SCOPED_TRACE(::testing::Message() << "failure " << failure << ", count " << count
                                                  << (byValue ? ", value throws" : ", allocation"));
                OSCValueList list = startingList();
                StringStream first;
                StringStream last{count};
                bool threw = false;
                try {
                    if (byValue) {
                        first.throwAt = failure < count ? failure : -1;
                    } else {
                        allocationsLeft = failure;
                    }
                    list.insert(list.begin() + 1, first, last);
                } catch (const std::bad_alloc&) {
                    threw = true;
                } catch (const std::runtime_error&) {
                    threw = true;
                }
                allocationsLeft = -1;
                if (threw) {
                    EXPECT_EQ(list, before);
                    continue;
                }
                ASSERT_EQ(list.size(), before.size() + static_cast<std::size_t>(count));
                EXPECT_EQ(list.front(), before.front());
                EXPECT_EQ(list.back(), before.back());
                for (int i = 0; i < count; ++i) {
                    EXPECT_EQ(list[static_cast<std::size_t>(i) + 1],
                              AnyOSCValue(std::string(40, static_cast<char>('0' + i))));
                }
            }
        }
    }
}

// A list made from a range that throws part way frees what it made (the leak checker of the
// address-sanitizer build sees it otherwise).
TEST(OSCValueListInsert, ThrowingConstructionFreesWhatItMade) {
    int threw = 0;
    for (int failure = 0; failure < 30; ++failure) {
        allocationsLeft = failure;
        try {
            const OSCValueList made(StringStream{}, StringStream{12});
            allocationsLeft = -1;
            EXPECT_EQ(made.size(), 12u);
        } catch (const std::bad_alloc&) {
            ++threw;
        }
        allocationsLeft = -1;
    }
    EXPECT_GT(threw, 0);
}

// A range taken from the list itself is inserted as it was before the insert.
TEST(OSCValueListInsert, RangeFromTheListItself) {
    OSCValueList list = startingList();
    for (int i = 0; i < 3; ++i) list.push_back(std::int32_t{i});
    const std::vector<AnyOSCValue> before = list;
    list.insert(list.begin() + 1, list.begin(), list.end());
    std::vector<AnyOSCValue> expected{before.front()};
    expected.insert(expected.end(), before.begin(), before.end());
    expected.insert(expected.end(), before.begin() + 1, before.end());
    EXPECT_EQ(list, expected);
}

}  // namespace
}  // namespace rozuri
