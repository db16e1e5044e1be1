// Commands around activation: create an object, list registered classes.
#include <cstdio>

#include "tools/category_list.h"
#include "tools/class_check.h"
#include "tools/command.h"

namespace tavo::tools {
namespace {

// Default value of CLSID\{clsid}\`subkey`, or "-".
std::string ClassEntry(COM_IRegistry* registry, const _COM_GUID& clsid, const COM_WCHAR* subkey) {
    utlAutoBstr text;
    return COM_SUCCEEDED(COM_ReadClassEntryText(registry, clsid, subkey, text.Put())) ? NarrowZ(text.Get()) : "-";
}

std::string InstallCount(COM_IRegistry* registry, const _COM_GUID& clsid) {
    uint32_t count = 0;
    if (COM_FAILED(COM_OpenClassEntry(registry, clsid, COM_KEY_INSTALLCOUNT)) ||
        COM_FAILED(registry->GetDWordValue(COM_TEXT(""), &count)))
        return "-";
    return std::to_string(count);
}

} // namespace

// Text meant as an identifier: braced, or of its shape without the braces
// (no ProgID begins with a brace or has a dash where an identifier has them).
bool LooksLikeIdentifier(const std::string& text) {
    if (!text.empty() && text[0] == '{') return true;
    return text.size() == 36 && text[8] == '-' && text[13] == '-' && text[18] == '-' && text[23] == '-';
}

bool ResolveClass(const std::string& text, _COM_GUID* clsid, std::string* from) {
    if (LooksLikeIdentifier(text)) {
        if (ParseGuid(text, clsid)) return true;
        std::printf("\"%s\" is a malformed class identifier (expected {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, "
                    "hexadecimal digits)\n",
                    text.c_str());
        return false;
    }
    COM_HRESULT hr = COM_GetCLSIDFromProgID(Widen(text).c_str(), clsid);
    if (COM_FAILED(hr)) {
        std::printf("\"%s\" is neither a class identifier ({xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}) nor a registered "
                    "ProgID: %s\n",
                    text.c_str(), StatusText(hr).c_str());
        return false;
    }
    if (from) *from = " (ProgID " + text + ")";
    return true;
}

bool ResolveInterface(const std::string& text, _COM_GUID* iid) {
    if (ParseGuid(text, iid)) return true;
    std::printf("\"%s\" is %s interface identifier (expected {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx})\n", text.c_str(),
                LooksLikeIdentifier(text) ? "a malformed" : "not an");
    return false;
}

int Create(const Args& args) {
    if (!args.empty() && args[0] == "--trace") return TraceCreate(Args(args.begin() + 1, args.end()));
    if (args.empty() || args.size() > 2) {
        std::fprintf(stderr, "create: expects a class identifier or ProgID and optionally an interface identifier\n");
        return 2;
    }
    _COM_GUID clsid{}, iid = COM_IID_IUnknown;
    if (!ResolveClass(args[0], &clsid) || (args.size() == 2 && !ResolveInterface(args[1], &iid))) return 2;
    COM_ClearErrorInfo();
    utlAutoIf<COM_IUnknown> object;
    COM_HRESULT hr = COM_CreateInstance(clsid, 0, iid, object.PutVoid());
    std::printf("class     %s\ninterface %s\nstatus    %s%s\n", GuidText(clsid).c_str(), GuidText(iid).c_str(),
                StatusText(hr).c_str(), COM_SUCCEEDED(hr) ? " (object created)" : "");
    PrintErrorRecord();
    COM_ClearErrorInfo();
    return COM_SUCCEEDED(hr) ? 0 : 1;
}

int Classes(const Args&) {
    utlAutoIf<COM_IRegistry> registry;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
    if (COM_SUCCEEDED(hr)) hr = COM_OpenClassRootPath(registry.Get(), {COM_KEY_CLSID});
    utlAutoIf<COM_IEnumBSTR> keys;
    if (COM_SUCCEEDED(hr)) hr = registry->EnumKeys(keys.Put());
    if (COM_FAILED(hr)) {
        std::printf("no classes registered (%s)\n", StatusText(hr).c_str());
        return hr == COM_STATUS_FROM_WIN32(2) ? 0 : 1;
    }
    const auto categories = CategoriesByClass();
    std::printf("%-38s  %-24s  %-24s  %-24s  %-8s  %s\n", "class", "ProgID", "display name", "library", "installs",
                "categories");
    uint32_t listed = 0;
    for (const auto& name : AllNames(keys.Get())) {
        _COM_GUID clsid{};
        bool parsed = COM_SUCCEEDED(COM_StringToCLSID(name.c_str(), &clsid));
        std::string member;
        if (parsed) {
            auto found = categories.find(GuidText(clsid));
            if (found != categories.end())
                for (const std::string& c : found->second) member += (member.empty() ? "" : ", ") + c;
        }
        std::printf("%-38s  %-24s  %-24s  %-24s  %-8s  %s\n", NarrowZ(name.c_str()).c_str(),
                    parsed ? ClassEntry(registry.Get(), clsid, COM_KEY_PROGID).c_str() : "(not an identifier)",
                    parsed ? ClassEntry(registry.Get(), clsid, COM_KEY_DISPLAYNAME).c_str() : "-",
                    parsed ? ClassEntry(registry.Get(), clsid, COM_KEY_INPROCSERVER32).c_str() : "-",
                    parsed ? InstallCount(registry.Get(), clsid).c_str() : "-", member.empty() ? "-" : member.c_str());
        ++listed;
    }
    std::printf("%u classes\n", listed);
    return 0;
}

} // namespace tavo::tools
