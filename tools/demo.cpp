// The demo: one pass over what the runtime does, as a client sees it, its
// sections in the order they run.
#include <greeter/greeter.h>
#include <tavocom/library_entry.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/library_path.h"
#include "platform/registry.h"
#include "platform/tool_calls.h"
#include "registry/root_path.h"
#include "registry/tree.h"
#include "tools/category_list.h"
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

/// The product's keys of both hives as the demo found them: what it creates
/// (the roots its registry objects open, the empty moniker keys that the
/// runtime's last unregistration leaves) goes again at the end.
class StoreAsFound {
public:
    StoreAsFound() {
        const char* version = std::getenv(registry::kVersionVariable);
        const std::string root =
            std::string(registry::kMakerKey) + (version && *version ? version : registry::kDefaultVersion);
        // Each level of the root's path, from the hive down.
        for (size_t at = root.find('\\'); at != std::string::npos; at = root.find('\\', at + 1))
            m_levels.push_back(root.substr(0, at));
        m_levels.push_back(root);
        for (Hive& h : m_hives) {
            h.missing = m_levels.size();
            for (size_t i = m_levels.size(); i-- > 0;)
                if (!Exists(h.hive, m_levels[i].c_str())) h.missing = i;
        }
    }
    ~StoreAsFound() {
        for (const Hive& h : m_hives)
            if (h.missing < m_levels.size())
                registry::DeleteTree(h.hive, m_levels[h.missing].c_str(), plat::kKeyAllAccess);
    }
    StoreAsFound(const StoreAsFound&) = delete;
    StoreAsFound& operator=(const StoreAsFound&) = delete;

private:
    struct Hive {
        plat::RegKeyHandle hive;
        size_t missing = 0; // the first level that was not there
    };
    static bool Exists(plat::RegKeyHandle hive, const char* path) {
        plat::RegKey key;
        return plat::RegOpenKeyExA(hive, path, plat::kKeyRead, key.Put()) == 0;
    }
    std::vector<std::string> m_levels;
    Hive m_hives[2] = {{plat::kHKeyLocalMachine}, {plat::kHKeyCurrentUser}};
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
}

// A registered library: the runtime, or a sample component loaded from the
// runtime's directory, where activation loads it from too.
struct Registrant {
    std::string name;
    COM_HRESULT (*call)(bool install); // null: the library could not be loaded
};

COM_HRESULT RegisterRuntime(bool install) { return install ? DllRegisterServer() : DllUnregisterServer(); }

template <const char* Base>
COM_HRESULT RegisterSample(bool install) {
    static plat::ModuleHandle library = [] {
        const auto directory = core::RuntimeDirectory();
        if (!directory) return plat::ModuleHandle(nullptr);
        // Loaded for the rest of the process, as activation keeps it.
        return plat::LoadLibraryW(core::ComponentPath(*directory, Widen(std::string(Base) + TAVOCOM_MODULE_SUFFIX)).c_str());
    }();
    auto entry = reinterpret_cast<COM_HRESULT (*)()>(
        library ? plat::GetProcAddress(library, install ? "DllRegisterServer" : "DllUnregisterServer") : nullptr);
    return entry ? entry() : CO_E_DLLNOTFOUND;
}
constexpr char kGreeter[] = "greeter";
constexpr char kDecoder[] = "tavo_decoder";

// The road of one request: the runtime and the sample components register
// themselves, a status of the product's facility is decoded by the
// decoder registered for it, a class is found by its ProgID and activated,
// a category is listed; then everything is unregistered again, each
// install count back where it was.
void RoadOfOneRequest() {
    std::printf("\n-- the road of one request --\n");
    const Registrant registrants[] = {{"the runtime", RegisterRuntime},
                                      {std::string("greeter") + TAVOCOM_MODULE_SUFFIX, RegisterSample<kGreeter>},
                                      {std::string("tavo_decoder") + TAVOCOM_MODULE_SUFFIX, RegisterSample<kDecoder>}};
    size_t registered = 0;
    for (const Registrant& r : registrants) {
        const COM_HRESULT hr = r.call(true);
        std::printf("registered %s: %s\n", r.name.c_str(), StatusText(hr).c_str());
        if (COM_FAILED(hr)) {
            ExplainHiveWrite(plat::kHKeyLocalMachine, hr == COM_STATUS_FROM_WIN32(plat::kErrorAccessDenied));
            break;
        }
        ++registered;
    }
    if (registered == std::size(registrants)) {
        utlAutoBstr text;
        COM_HRESULT hr = COM_DecodeHRESULT(COM_HRESULT(0x806F0005), nullptr, text.Put());
        std::printf("0x806F0005 -> %s, \"%s\" (from the decoder registered for facility 0x6F)\n",
                    Hex32(uint32_t(hr)).c_str(), NarrowLine(text.Get()).c_str());

        _COM_GUID clsid{};
        hr = COM_GetCLSIDFromProgID(COM_TEXT("TavoSample.Greeter"), &clsid);
        std::printf("ProgID TavoSample.Greeter -> %s\n", COM_SUCCEEDED(hr) ? GuidText(clsid).c_str() : StatusText(hr).c_str());
        utlAutoIf<IGreeter> greeter;
        if (COM_SUCCEEDED(hr)) hr = COM_CreateInstance(clsid, 0, IID_IGreeter, greeter.PutVoid());
        std::printf("the sample component, loaded from this library's directory: %s\n", StatusText(hr).c_str());
        if (COM_SUCCEEDED(hr)) {
            utlAutoBstr greeting;
            greeter->Greet(COM_TEXT("demo"), greeting.Put());
            std::printf("  it says: %s\n", Narrow(greeting.Get()).c_str());
        }
        std::vector<CategoryView> categories;
        if (ListCategories(&categories, &hr))
            for (const CategoryView& c : categories)
                std::printf("category %s \"%s\": %zu classes\n", c.id.c_str(), c.description.c_str(), c.classes.size());
    }
    // In the reverse order, each taking back its own registration.
    for (size_t i = registered; i-- > 0;) {
        const COM_HRESULT hr = registrants[i].call(false);
        std::printf("unregistered %s: %s\n", registrants[i].name.c_str(), StatusText(hr).c_str());
    }
}

void Decoding() {
    std::printf("\n-- status decoding --\n");
    for (uint32_t code : {0x80070005u, 0x80004005u, 0x8067000Eu}) {
        utlAutoBstr text;
        COM_HRESULT hr = COM_DecodeHRESULT(COM_HRESULT(code), nullptr, text.Put());
        std::printf("%s -> %s, %s\n", Hex32(code).c_str(), Hex32(uint32_t(hr)).c_str(),
                    text.Get() ? ("\"" + NarrowLine(text.Get()) + "\"").c_str() : "no text");
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
    StoreAsFound asFound;
    for (void (*section)() : {Identifiers, Strings, ErrorRecord, Registry, Activation, RoadOfOneRequest, Decoding,
                              MemoryService})
        section();
    std::printf("\nCanUnloadNow: %s\n", CanUnloadNow() == S_OK ? "S_OK" : "S_FALSE");
    return 0;
}

} // namespace tavo::tools
