// The demo: one pass over what the runtime does, as a client sees it, its
// sections in the order they run.
#include <greeter/greeter.h>
#include <tavocom/library_entry.h>

#include <cstdio>
#include <filesystem>

#include "platform/registry.h"
#include "tools/command.h"
#include "tools/hive_access.h"

namespace tavo::tools {
namespace {

namespace fs = std::filesystem;

/// A store of the demo's own, for a user who may not write the machine
/// hive and chose no hives: hive files in a new temporary directory,
/// removed at the end. The store looks at the hive variables at every use,
/// so they are set before the first registry call and cleared after the
/// last.
class ScratchStore {
public:
    ScratchStore() {
        plat::RegHiveLocation machine = plat::RegQueryHiveLocation(plat::kHKeyLocalMachine);
        plat::RegHiveLocation user = plat::RegQueryHiveLocation(plat::kHKeyCurrentUser);
        if (machine.writable || !machine.variable || !user.variable || machine.moved || user.moved) return;
        _COM_GUID id{};
        COM_GenerateCLSID(&id);
        std::error_code e;
        fs::path dir = fs::temp_directory_path(e) / ("tavocom-demo-" + GuidText(id).substr(1, 36));
        if (e || !fs::create_directory(dir, e)) {
            std::printf("the machine hive %s is not writable for this user, and no scratch store could be made\n",
                        machine.place.c_str());
            return;
        }
        fs::permissions(dir, fs::perms::owner_all, e);
        m_dir = dir;
        if (plat::RegMoveHive(plat::kHKeyLocalMachine, (dir / "machine.db").string().c_str()) ||
            plat::RegMoveHive(plat::kHKeyCurrentUser, (dir / "user.db").string().c_str()))
            return;
        std::printf("the machine hive %s is not writable for this user: this demo uses a scratch store in %s, "
                    "removed at the end (%s and %s choose hives of your own)\n",
                    machine.place.c_str(), dir.string().c_str(), machine.variable, user.variable);
    }
    ~ScratchStore() {
        if (m_dir.empty()) return;
        plat::RegMoveHive(plat::kHKeyLocalMachine, nullptr);
        plat::RegMoveHive(plat::kHKeyCurrentUser, nullptr);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    ScratchStore(const ScratchStore&) = delete;
    ScratchStore& operator=(const ScratchStore&) = delete;

private:
    fs::path m_dir;
};

void Identifiers() {
    std::printf("\n-- identifiers --\n");
    _COM_GUID id{};
    COM_GenerateCLSID(&id);
    std::string text = GuidText(id);
    _COM_GUID back{};
    bool same = ParseGuid(text, &back) && COM_IsEqualGUID(id, back);
    std::printf("generated %s, parsed back: %s\n", text.c_str(), same ? "identical" : "DIFFERENT");
    std::printf("COM_IUnknown is %s\n", GuidText(COM_IID_IUnknown).c_str());
    _COM_GUID bad{};
    std::printf("parsing \"not-a-guid\" gives %s\n",
                StatusText(COM_StringToCLSID(COM_TEXT("not-a-guid"), &bad)).c_str());
}

void Strings() {
    std::printf("\n-- strings --\n");
    utlAutoBstr s(COM_SysAllocString(COM_TEXT("length-prefixed")));
    std::printf("\"%s\": %u characters, %u bytes\n", Narrow(s.Get()).c_str(), COM_SysStringLen(s.Get()),
                COM_SysStringByteLen(s.Get()));
}

void ErrorRecord() {
    std::printf("\n-- error record --\n");
    {
        utlAutoIf<COM_IErrorInfo> record;
        COM_CreateErrorInfo(record.Put());
        record->SetDescription(COM_TEXT("something went wrong"));
        record->SetSource(COM_TEXT("tavocom demo"));
        COM_SetErrorInfo(record.Get());
    }
    PrintErrorRecord();
    COM_ClearErrorInfo();
}

// The registry service as a client uses it.
void Registry() {
    std::printf("\n-- registry --\n");
    utlAutoIf<COM_IRegistry> registry;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
    if (COM_FAILED(hr)) {
        std::printf("cannot create the registry object: %s\n", StatusText(hr).c_str());
        return;
    }
    hr = registry->Open(COM_REGROOT_USER, nullptr);
    if (COM_SUCCEEDED(hr)) hr = registry->CreateKey(COM_TEXT("Demo"), 1);
    if (COM_SUCCEEDED(hr)) hr = registry->SetStringValue(COM_TEXT("Greeting"), COM_TEXT("hello from the registry"));
    if (COM_SUCCEEDED(hr)) hr = registry->SetDWordValue(COM_TEXT("Answer"), 42);
    if (COM_FAILED(hr)) {
        std::printf("writing under the user root failed: %s\n", StatusText(hr).c_str());
        ExplainHiveWrite(plat::kHKeyCurrentUser, hr == COM_STATUS_FROM_WIN32(plat::kErrorAccessDenied));
        return;
    }
    utlAutoBstr text;
    uint32_t answer = 0;
    registry->GetStringValue(COM_TEXT("Greeting"), text.Put());
    registry->GetDWordValue(COM_TEXT("Answer"), &answer);
    std::printf("user root\\Demo: Greeting = \"%s\", Answer = %u\n", Narrow(text.Get()).c_str(), answer);
    utlAutoIf<COM_IEnumBSTR> names;
    if (COM_SUCCEEDED(registry->EnumValues(names.Put()))) {
        uint32_t count = 0;
        names->GetCount(&count);
        std::printf("%u values:", count);
        COM_BSTR item = nullptr;
        uint32_t fetched = 0;
        while (names->Next(1, &item, &fetched) == S_OK && fetched == 1) {
            std::printf(" %s", Narrow(item).c_str());
            COM_SysFreeString(item);
        }
        std::printf("\n");
    }
    registry->Open(COM_REGROOT_USER, nullptr);
    hr = registry->DeleteKey(COM_TEXT("Demo"));
    std::printf("removed the Demo key: %s\n", StatusText(hr).c_str());
}

void Activation() {
    std::printf("\n-- activation --\n");
    utlAutoIf<COM_IMemory> memory;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Memory, 0, COM_IID_IMemory, memory.PutVoid());
    std::printf("a class of this library (memory service): %s, no registry needed\n", StatusText(hr).c_str());

    _COM_GUID unknown{};
    COM_GenerateCLSID(&unknown);
    COM_ClearErrorInfo();
    utlAutoIf<COM_IUnknown> none;
    hr = COM_CreateInstance(unknown, 0, COM_IID_IUnknown, none.PutVoid());
    std::printf("an unregistered class: %s\n", StatusText(hr).c_str());
    PrintErrorRecord();
    COM_ClearErrorInfo();

    // The sample component, registered for the length of the demo unless it
    // already is.
    utlAutoIf<COM_IRegistry> registry;
    if (COM_FAILED(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid()))) return;
    std::string clsidText = GuidText(CLSID_Greeter);
    bool registeredHere = false;
    if (COM_FAILED(COM_OpenClassEntry(registry.Get(), CLSID_Greeter, nullptr))) {
        std::string file = std::string("greeter") + TAVOCOM_MODULE_SUFFIX;
        hr = registry->Open(COM_REGROOT_CLASSES, nullptr);
        if (COM_SUCCEEDED(hr)) hr = registry->CreateKey(COM_KEY_CLSID, 1);
        if (COM_SUCCEEDED(hr)) hr = registry->CreateKey(Widen(clsidText).c_str(), 1);
        if (COM_SUCCEEDED(hr)) hr = registry->CreateKey(COM_KEY_INPROCSERVER32, 1);
        if (COM_SUCCEEDED(hr)) hr = registry->SetStringValue(COM_TEXT(""), Widen(file).c_str());
        if (COM_FAILED(hr)) {
            std::printf("registering the sample component needs write access to the registry: %s\n",
                        StatusText(hr).c_str());
            ExplainHiveWrite(plat::kHKeyLocalMachine, hr == COM_STATUS_FROM_WIN32(plat::kErrorAccessDenied));
            return;
        }
        registeredHere = true;
        std::printf("registered the sample component %s as %s\n", clsidText.c_str(), file.c_str());
    }
    utlAutoIf<IGreeter> greeter;
    hr = COM_CreateInstance(CLSID_Greeter, 0, IID_IGreeter, greeter.PutVoid());
    std::printf("the sample component, loaded from this library's directory: %s\n", StatusText(hr).c_str());
    if (COM_SUCCEEDED(hr)) {
        utlAutoBstr text;
        greeter->Greet(COM_TEXT("demo"), text.Put());
        std::printf("  it says: %s\n", Narrow(text.Get()).c_str());
    }
    if (registeredHere && COM_SUCCEEDED(COM_OpenClassRootPath(registry.Get(), {COM_KEY_CLSID})))
        registry->DeleteKey(Widen(clsidText).c_str());
}

void Decoding() {
    std::printf("\n-- status decoding --\n");
    for (uint32_t code : {0x80070005u, 0x80004005u, 0x8067000Eu, 0x806F0005u}) {
        utlAutoBstr text;
        COM_HRESULT hr = COM_DecodeHRESULT(COM_HRESULT(code), nullptr, text.Put());
        std::printf("%s -> %s, %s\n", Hex32(code).c_str(), Hex32(uint32_t(hr)).c_str(),
                    text.Get() ? ("\"" + NarrowLine(text.Get()) + "\"").c_str()
                               : "no text (no decoder moniker registered)");
    }
}

void MemoryService() {
    std::printf("\n-- memory service --\n");
    RunMemory(COM_MEMORY_STRATEGY_VIRTUAL_FREELIST, 1000, 40, 0x100000);
}

} // namespace

int Demo(const Args&) {
    std::printf("== TAVOCOM64 demo ==\n");
    ScratchStore scratch;
    for (void (*section)() : {Identifiers, Strings, ErrorRecord, Registry, Activation, Decoding, MemoryService}) section();
    std::printf("\nCanUnloadNow: %s\n", CanUnloadNow() == S_OK ? "S_OK" : "S_FALSE");
    return 0;
}

} // namespace tavo::tools
