// The string functions with arbitrary lengths, and with sources that lie
// inside the strings they reallocate.
#include <vector>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavo::fuzz::Input in(data, size);
    std::vector<COM_BSTR> live(4, nullptr);
    while (!in.Empty()) {
        COM_BSTR& s = live[in.Byte() % live.size()];
        const uint32_t len = COM_SysStringLen(s);
        // A small length, or one just past what the functions accept (which
        // must be refused before anything is allocated).
        const bool huge = in.Byte() & 0x80;
        const uint32_t n = huge ? 0xFFFFFFFFu - in.Byte() % 7 : in.Byte();
        switch (in.Byte() % 7) {
        case 0: {
            COM_SysFreeString(s);
            tavo::fuzz::WString t = in.Text(40);
            s = COM_SysAllocString(t.c_str());
            FUZZ_CHECK(s && COM_SysStringLen(s) == t.size() && s[t.size()] == 0);
            break;
        }
        case 1:
            COM_SysFreeString(s);
            s = COM_SysAllocStringLen(nullptr, huge ? n / 2 + 1 : n);
            FUZZ_CHECK(huge ? !s : (COM_SysStringLen(s) == n && s[n] == 0));
            break;
        case 2:
            COM_SysFreeString(s);
            s = COM_SysAllocStringByteLen(nullptr, n);
            FUZZ_CHECK(huge ? !s : COM_SysStringByteLen(s) == n);
            break;
        case 3: // the source is a part of the string itself
            if (s) {
                const uint32_t from = len ? in.Byte() % len : 0;
                const uint32_t take = n % (len - from + 1);
                const COM_WCHAR first = len ? s[from] : 0;
                if (COM_SysReAllocStringLen(&s, s + from, take)) {
                    FUZZ_CHECK(COM_SysStringLen(s) == take && s[take] == 0);
                    FUZZ_CHECK(take == 0 || s[0] == first);
                }
            }
            break;
        case 4:
            if (s) {
                const uint32_t from = len ? in.Byte() % (len + 1) : 0;
                const tavo::fuzz::WString expected(s + from);
                if (COM_SysReAllocString(&s, s + from)) FUZZ_CHECK(expected == s);
            }
            break;
        case 5:
            FUZZ_CHECK(COM_SysStringByteLen(s) / 2 == len);
            break;
        default: {
            void* block = reinterpret_cast<void*>(uintptr_t(1));
            const int32_t failed = COM_TaskMemAlloc(huge ? ~size_t(0) - n : n, &block);
            FUZZ_CHECK(failed == (block ? 0 : 1) && (!huge || failed));
            FUZZ_CHECK(COM_TaskMemFree(block) == 0);
        }
        }
    }
    for (COM_BSTR s : live) COM_SysFreeString(s);
    return 0;
}
