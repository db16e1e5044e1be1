// Allocation failures inside enumeration: each ends in E_OUTOFMEMORY and
// frees everything made before it.
#include <atomic>
#include <cstdlib>
#include <new>

#include "registry_fixture.h"

namespace {

// This program's own operator new, armed by a test to fail its Nth call.
// The library's allocations reach it where the platform's loader binds
// them to the program's definition; where they do not, the test sees no
// call and skips.
std::atomic<long> g_failAt{0}; // 0: never fail
std::atomic<long> g_calls{0};
std::atomic<long> g_live{0};

} // namespace

// Every form of new and delete is replaced, so that none pairs with the
// runtime's own.
void* operator new(size_t size) {
    if (++g_calls == g_failAt.load()) throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
    ++g_live;
    return p;
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
    try {
        return operator new(size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
void* operator new[](size_t size, const std::nothrow_t& tag) noexcept { return operator new(size, tag); }
// Both halves are ours and pair malloc with free; the compiler sees only
// the new/free mismatch of the replaced functions.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    if (!p) return;
    --g_live;
    std::free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }
#pragma GCC diagnostic pop

namespace tavo::test {
namespace {

TEST_F(RegistryTest, EnumerationRunningOutOfMemoryFreesWhatItMade) {
    OpenRoot(COM_REGROOT_USER);
    for (const char* name : {"one", "two", "three"}) {
        ASSERT_EQ(Reg()->CreateKey(W(name).c_str(), 0), S_OK);
        ASSERT_EQ(Reg()->SetDWordValue(W(name).c_str(), 1), S_OK);
    }
    for (bool values : {false, true}) {
        for (long n = 1;; ++n) {
            SCOPED_TRACE(std::string(values ? "EnumValues" : "EnumKeys") + ", allocation " + std::to_string(n));
            COM_IEnumBSTR* e = static_cast<COM_IEnumBSTR*>(kPoison);
            long live = g_live;
            g_calls = 0;
            g_failAt = n;
            COM_HRESULT hr = values ? Reg()->EnumValues(&e) : Reg()->EnumKeys(&e);
            g_failAt = 0;
            if (hr == S_OK) {
                e->Release();
                if (n == 1 && g_calls == 0) GTEST_SKIP() << "the library's allocations do not reach this program";
                EXPECT_LT(g_calls, n) << "succeeded although an allocation failed";
                break;
            }
            EXPECT_EQ(hr, E_OUTOFMEMORY);
            EXPECT_EQ(static_cast<void*>(e), kPoison);
            EXPECT_EQ(g_live, live) << "blocks left behind";
        }
    }
}

} // namespace
} // namespace tavo::test
