// Display names through COM_MkParseName and rests through the status
// moniker's Bind, and status codes through COM_DecodeHRESULT, with the
// sample decoder registered for facility 0x6F: every call ends in a status,
// texts are handed out exactly when promised, and every object goes again.
#include <tavocom/library_entry.h>

#include <filesystem>

#include "fuzz_input.h"

namespace {

const COM_WCHAR kDecoderClass[] = COM_TEXT("{5E0B7C1D-2A46-4F83-B17A-6C0F93D2486F}");

bool Write(COM_IRegistry* r, std::initializer_list<const COM_WCHAR*> path, const COM_WCHAR* name, const COM_WCHAR* value) {
    if (r->Open(COM_REGROOT_CLASSES, nullptr) != S_OK) return false;
    for (const COM_WCHAR* key : path)
        if (r->CreateKey(key, 1) != S_OK) return false;
    return r->SetStringValue(name, value) == S_OK;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "tavocom-fuzz-decoding";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    setenv("TAVOCOM_MACHINE_HIVE", (dir / "machine.db").c_str(), 1);
    setenv("TAVOCOM_USER_HIVE", (dir / "user.db").c_str(), 1);
    setenv("COM_VERSION", "FUZZ", 1);
    // The status moniker, and the sample decoder beside the runtime.
    utlAutoIf<COM_IRegistry> r;
    utlAutoBstr binder;
    if (COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()) != S_OK ||
        COM_CLSIDToString(COM_CLSID_HResultDecoderBinder, binder.Put()) != S_OK ||
        !Write(r.Get(), {COM_KEY_MONIKER, COM_MONIKER_HRESULT}, COM_TEXT(""), binder.Get()) ||
        !Write(r.Get(), {COM_KEY_MONIKER, COM_MONIKER_HRESULT}, COM_TEXT("6F"), kDecoderClass) ||
        !Write(r.Get(), {COM_KEY_CLSID, kDecoderClass, COM_KEY_INPROCSERVER32}, COM_TEXT(""),
               COM_TEXT("tavo_decoder.so")))
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tavo::fuzz::Input in(data, size);
    const COM_HRESULT code = COM_HRESULT(in.U32());
    {
        COM_BSTR text = reinterpret_cast<COM_BSTR>(uintptr_t(1));
        const COM_HRESULT hr = COM_DecodeHRESULT(code, nullptr, &text);
        if (hr == S_OK || hr == S_FALSE) FUZZ_CHECK(text && text != reinterpret_cast<COM_BSTR>(uintptr_t(1)) && text[0]);
        if (text != reinterpret_cast<COM_BSTR>(uintptr_t(1))) COM_SysFreeString(text);
    }
    // A display name mostly of the characters that mean something to it.
    tavo::fuzz::WString name;
    const size_t length = in.Byte() % 40;
    for (size_t i = 0; i < length; ++i) {
        static const char16_t kAlphabet[] = u"hresult:6F!x:\\A0";
        const uint8_t pick = in.Byte();
        name += pick < 0xC0 ? COM_WCHAR(kAlphabet[pick % 16]) : COM_WCHAR(pick);
    }
    uint32_t eaten = 0xFFFFFFFF;
    utlAutoIf<COM_IMoniker> moniker;
    const COM_HRESULT hr = COM_MkParseName(name.c_str(), &eaten, moniker.Put());
    if (hr == S_OK) {
        FUZZ_CHECK(moniker && eaten >= 2 && eaten <= name.size());
        utlAutoIf<COM_IUnknown> bound;
        const COM_HRESULT bind = moniker->Bind(name.c_str() + eaten, COM_IID_IHResultDecoder, bound.PutVoid());
        FUZZ_CHECK(bind == S_OK || bind == COM_E_MONIKER_EXTENSION || bind == CLASS_E_CLASSNOTAVAILABLE);
    } else {
        FUZZ_CHECK(COM_FAILED(hr) && !moniker);
    }
    moniker.Reset(nullptr);
    FUZZ_CHECK(CanUnloadNow() == S_OK);
    return 0;
}
