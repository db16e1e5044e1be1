// Faults at the platform boundary: the Nth allocation of the language, the
// Nth string or task-memory allocation, the Nth store, loader or virtual
// memory call fails, once or from then on, for every N a scenario reaches.
// Each run ends in the statuses the interface allows, with the module
// count back at zero, and LeakSanitizer (the sanitizer build) finds no
// leak; the store's integrity after faults is the store tests' concern.
// Only builds with fault
// points (the sanitizer build) and a loader that binds the library's
// allocations to this program's (Linux) reach every kind; elsewhere the
// test skips what it cannot reach.
#include <decoder/decoder.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>
#include <stdexcept>

#include "platform/fault.h"
#include "registry_fixture.h"

using tavo::test::W;
using tavo::test::WString;

namespace {

// The one countdown of every fault kind.
std::atomic<bool> g_armed{false};
std::atomic<bool> g_fromThenOn{false};
std::atomic<long> g_failAt{0};
std::atomic<long> g_seen{0};

bool FailHere() {
    if (!g_armed) return false;
    const long n = ++g_seen;
    return n == g_failAt || (g_fromThenOn && n > g_failAt);
}

} // namespace

// The library's platform layer asks this before every call that can fail.
// A full disk is the store's own test's to make (test_registry_store).
COM_COMPONENT_EXPORT int tavocom_fault_point(int kind) {
    return kind != int(tavo::plat::Fault::DiskFull) && FailHere();
}

// Every form of new and delete is replaced, so that none pairs with the
// runtime's own.
void* operator new(size_t size) {
    if (FailHere()) throw std::bad_alloc();
    void* p = std::malloc(size ? size : 1);
    if (!p) throw std::bad_alloc();
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
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { operator delete(p); }
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete[](void* p, size_t) noexcept { operator delete(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { operator delete(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { operator delete(p); }
#pragma GCC diagnostic pop

namespace tavo::test {
namespace {

// A status that a call may give when a resource fails under it.
bool Allowed(COM_HRESULT hr) {
    return COM_SUCCEEDED(hr) || hr == E_OUTOFMEMORY || hr == E_FAIL || hr == CLASS_E_CLASSNOTAVAILABLE ||
           hr == CO_E_DLLNOTFOUND || (uint32_t(hr) & 0xFFFF0000u) == 0x80070000u;
}
#define EXPECT_ALLOWED(call)                                            \
    do {                                                                \
        const COM_HRESULT hr_ = (call);                                 \
        EXPECT_TRUE(Allowed(hr_)) << #call << " gave " << std::hex << uint32_t(hr_); \
    } while (0)

class FaultTest : public RegistryTest {
protected:
    /// Runs `scenario` with the Nth fault point failing (once, then from
    /// then on), for N from 1 until the scenario passes fewer points.
    /// Returns the number of runs.
    int Sweep(const std::function<void()>& scenario) {
        // The fixture's own object would hide a reference left behind.
        m_reg.Reset(nullptr);
        int runs = 0;
        for (bool fromThenOn : {false, true}) {
            for (long n = 1;; ++n, ++runs) {
                SCOPED_TRACE((fromThenOn ? "from fault point " : "at fault point ") + std::to_string(n));
                g_seen = 0;
                g_failAt = n;
                g_fromThenOn = fromThenOn;
                g_armed = true;
                try {
                    scenario();
                } catch (const std::bad_alloc&) {
                    // Where the interface lets the allocation error through.
                }
                g_armed = false;
                // A failed activation leaves its error record current, by design.
                COM_ClearErrorInfo();
                EXPECT_EQ(CanUnloadNow(), S_OK) << "references left behind";
                if (g_seen < n || ::testing::Test::HasFailure()) break;
            }
        }
        m_reg = NewRegistry();
        RecordProperty("fault_runs", runs);
        return runs;
    }
};

TEST_F(FaultTest, StringsErrorRecordsAndIdentifiers) {
    const int runs = Sweep([] {
        utlAutoBstr s(COM_SysAllocString(COM_TEXT("text")));
        utlAutoBstr id;
        EXPECT_ALLOWED(COM_CLSIDToString(COM_CLSID_Registry, id.Put()));
        void* block = nullptr;
        if (COM_TaskMemAlloc(64, &block) == 0) COM_TaskMemFree(block);
        utlAutoIf<COM_IErrorInfo> record;
        if (COM_CreateErrorInfo(record.Put()) == S_OK) {
            record->SetDescription(COM_TEXT("what"));
            utlAutoBstr back;
            record->GetDescription(back.Put());
        }
    });
    if (runs == 0) GTEST_SKIP() << "no fault point is reachable in this build";
}

TEST_F(FaultTest, RegistryOperationsAndEnumerators) {
    OpenRoot(COM_REGROOT_USER);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("kept"), 0), S_OK);
    const int runs = Sweep([] {
        utlAutoIf<COM_IRegistry> r;
        if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK) return;
        EXPECT_ALLOWED(r->Open(COM_REGROOT_USER, nullptr));
        EXPECT_ALLOWED(r->CreateKey(COM_TEXT("f\\g"), 1));
        EXPECT_ALLOWED(r->SetStringValue(COM_TEXT("s"), COM_TEXT("value")));
        EXPECT_ALLOWED(r->SetDWordValue(COM_TEXT("d"), 7));
        utlAutoBstr text;
        EXPECT_ALLOWED(r->GetStringValue(COM_TEXT("s"), text.Put()));
        uint32_t d = 0;
        EXPECT_ALLOWED(r->GetDWordValue(COM_TEXT("d"), &d));
        EXPECT_ALLOWED(r->Open(COM_REGROOT_USER, nullptr));
        for (bool keys : {true, false}) {
            utlAutoIf<COM_IEnumBSTR> names, clone;
            EXPECT_ALLOWED(keys ? r->EnumKeys(names.Put()) : r->EnumValues(names.Put()));
            if (!names) continue;
            EXPECT_ALLOWED(names->Clone(clone.Put()));
            COM_BSTR item = nullptr;
            uint32_t fetched = 0;
            if (names->Next(1, &item, &fetched) == S_OK) COM_SysFreeString(item);
        }
        EXPECT_ALLOWED(r->DeleteKey(COM_TEXT("f")));
    });
    if (runs == 0) GTEST_SKIP() << "no fault point is reachable in this build";
    // Whatever failed on the way, the key made before is whole.
    OpenRoot(COM_REGROOT_USER);
    EXPECT_EQ(Reg()->OpenKey(COM_TEXT("kept")), S_OK);
}

TEST_F(FaultTest, MemoryService) {
    const int runs = Sweep([] {
        for (uint32_t type : {COM_MEMORY_STRATEGY_VIRTUAL, COM_MEMORY_STRATEGY_VIRTUAL_FREELIST}) {
            utlAutoIf<COM_IMemory> mem;
            if (COM_CreateInstance(COM_CLSID_Memory, 0, COM_IID_IMemory, mem.PutVoid()) != S_OK) return;
            if (mem->SetStrategy(type, 0, 0x20000) != S_OK) continue;
            void* blocks[64] = {};
            for (void*& b : blocks) b = mem->Alloc(4000);
            for (void* b : blocks) mem->Free(b);
            mem->Reset();
        }
    });
    if (runs == 0) GTEST_SKIP() << "no fault point is reachable in this build";
}

TEST_F(FaultTest, DecodingAndLookups) {
    // The status moniker and the sample decoder, as registration leaves them.
    OpenRoot(COM_REGROOT_CLASSES);
    utlAutoBstr binder, decoder;
    ASSERT_EQ(COM_CLSIDToString(COM_CLSID_HResultDecoderBinder, binder.Put()), S_OK);
    ASSERT_EQ(COM_CLSIDToString(CLSID_TavoDecoder, decoder.Put()), S_OK);
    ASSERT_EQ(Reg()->CreateKey(COM_TEXT("Moniker\\hresult"), 1), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT(""), binder.Get()), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT("6F"), decoder.Get()), S_OK);
    OpenRoot(COM_REGROOT_CLASSES);
    ASSERT_EQ(Reg()->CreateKey((WString(COM_TEXT("CLSID\\")) + decoder.Get() + COM_TEXT("\\InprocServer32")).c_str(), 1), S_OK);
    ASSERT_EQ(Reg()->SetStringValue(COM_TEXT(""), W("tavo_decoder" TAVOCOM_COMPONENT_SUFFIX).c_str()), S_OK);
    const int runs = Sweep([] {
        for (uint32_t code : {0x80004005u, 0x80070005u, 0x806F0005u, 0x80650001u}) {
            COM_BSTR text = nullptr;
            EXPECT_ALLOWED(COM_DecodeHRESULT(COM_HRESULT(code), nullptr, &text));
            COM_SysFreeString(text);
        }
        _COM_GUID clsid{};
        EXPECT_ALLOWED(COM_GetCLSIDFromProgID(COM_TEXT("TelvaCom.Memory"), &clsid));
        utlAutoBstr progid;
        EXPECT_ALLOWED(COM_GetProgIDFromClsid(CLSID_TavoDecoder, progid.Put()));
    });
    if (runs == 0) GTEST_SKIP() << "no fault point is reachable in this build";
}

} // namespace
} // namespace tavo::test
