// Key and value names and data through the registry service and its store:
// every call ends in a status of the platform's kind, what was written reads
// back, and a tree removed is gone.
#include <filesystem>
#include <string>

#include "fuzz_input.h"

namespace {

bool Expected(COM_HRESULT hr) {
    const uint32_t v = uint32_t(hr);
    return hr == S_OK || hr == S_FALSE || hr == E_FAIL || hr == E_INVALIDARG || hr == E_OUTOFMEMORY ||
           (v & 0xFFFF0000u) == 0x80070000u;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // A throwaway store: hive files of this run only, a version key of its own.
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tavocom-fuzz-registry";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("TAVOCOM_MACHINE_HIVE", (dir / "machine.db").c_str(), 1);
    setenv("TAVOCOM_USER_HIVE", (dir / "user.db").c_str(), 1);
    setenv("COM_VERSION", "FUZZ", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavo::fuzz::Input in(data, size);
    utlAutoIf<COM_IRegistry> reg;
    FUZZ_CHECK(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, reg.PutVoid()) == S_OK);
    FUZZ_CHECK(reg->Open(COM_REGROOT_USER, nullptr) == S_OK);
    FUZZ_CHECK(reg->CreateKey(COM_TEXT("fuzz"), 1) == S_OK);
    for (int step = 0; step < 64 && !in.Empty(); ++step) {
        const tavo::fuzz::WString name = in.Text(in.Byte() & 1 ? 300 : 12);
        COM_HRESULT hr = S_OK;
        switch (in.Byte() % 8) {
        case 0:
            hr = reg->CreateKey(name.c_str(), in.Byte() & 1);
            break;
        case 1:
            hr = reg->OpenKey(name.c_str());
            break;
        case 2: {
            const tavo::fuzz::WString text = in.Text(200);
            hr = reg->SetStringValue(name.c_str(), text.c_str());
            if (hr == S_OK) {
                utlAutoBstr back;
                FUZZ_CHECK(reg->GetStringValue(name.c_str(), back.Put()) == S_OK && back.Get());
            }
            break;
        }
        case 3: {
            utlAutoBstr back;
            hr = reg->GetStringValue(name.c_str(), back.Put());
            FUZZ_CHECK(hr == S_OK || !back.Get());
            break;
        }
        case 4: {
            const uint32_t v = in.U32();
            hr = reg->SetDWordValue(name.c_str(), v);
            uint32_t back = ~v;
            if (hr == S_OK) FUZZ_CHECK(reg->GetDWordValue(name.c_str(), &back) == S_OK && back == v);
            break;
        }
        case 5:
            hr = reg->DeleteValue(name.c_str());
            break;
        case 6:
            hr = reg->DeleteKey(name.c_str());
            if (hr == S_OK && !name.empty()) FUZZ_CHECK(reg->OpenKey(name.c_str()) != S_OK);
            break;
        default: {
            utlAutoIf<COM_IEnumBSTR> names;
            hr = in.Byte() & 1 ? reg->EnumKeys(names.Put()) : reg->EnumValues(names.Put());
            if (hr == S_OK) {
                COM_BSTR items[4] = {};
                uint32_t fetched = 0;
                while (names->Next(4, items, &fetched) == S_OK || fetched) {
                    for (uint32_t i = 0; i < fetched; ++i) COM_SysFreeString(items[i]);
                    if (fetched < 4) break;
                }
            }
        }
        }
        FUZZ_CHECK(Expected(hr));
    }
    // Each input starts from an empty key.
    if (reg->Open(COM_REGROOT_USER, nullptr) == S_OK) reg->DeleteKey(COM_TEXT("fuzz"));
    return 0;
}
