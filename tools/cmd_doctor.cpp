// tavocom doctor: walks the class root and reports, one line each, the
// entries that keep a class from activating or that do not fit the
// registration layout.
#include <tavocom/library_entry.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

#include "tools/class_check.h"
#include "tools/command.h"

namespace tavo::tools {
namespace {

struct Problem {
    const char* kind;
    std::string key; // below the class root
    std::string detail;
    bool notice; // shown, but nothing that keeps a class from working
};

class Doctor {
public:
    explicit Doctor(COM_IRegistry* registry) : m_registry(registry) {}

    /// False when the class root cannot be read at all (`status` set).
    bool Run(COM_HRESULT* status);
    const std::vector<Problem>& Problems() const { return m_problems; }
    size_t ProblemCount() const {
        return size_t(std::count_if(m_problems.begin(), m_problems.end(), [](const Problem& p) { return !p.notice; }));
    }
    size_t ClassCount() const { return m_classes.size(); }

private:
    // Subkey or value names of the key that `path` reaches from the class root.
    std::vector<std::string> Names(std::initializer_list<const COM_WCHAR*> path, bool values, COM_HRESULT* hr = nullptr);
    std::string Text(std::initializer_list<const COM_WCHAR*> path, const std::string& value, COM_HRESULT* hr);
    void Report(const char* kind, std::string key, std::string detail, bool notice = false) {
        m_problems.push_back({kind, std::move(key), std::move(detail), notice});
    }
    void CheckServer(const _COM_GUID& clsid, const std::string& key);
    void CheckClass(const std::string& name, const _COM_GUID& clsid);
    void CheckProgIdKey(const std::string& name);
    void CheckMonikers();
    void CheckCategories();
    // Registered under CLSID, or a class of the runtime's own map.
    bool IsKnownClass(const _COM_GUID& clsid) const;

    COM_IRegistry* m_registry;
    std::map<std::string, std::string> m_classes; // identifier text -> ProgID ("" for none)
    std::map<WString, LibraryCheck> m_libraries;  // one load per library file
    std::vector<Problem> m_problems;
};

std::vector<std::string> Doctor::Names(std::initializer_list<const COM_WCHAR*> path, bool values, COM_HRESULT* status) {
    std::vector<std::string> names;
    utlAutoIf<COM_IEnumBSTR> items;
    COM_HRESULT hr = COM_OpenClassRootPath(m_registry, path);
    if (COM_SUCCEEDED(hr)) hr = values ? m_registry->EnumValues(items.Put()) : m_registry->EnumKeys(items.Put());
    if (status) *status = hr;
    if (COM_FAILED(hr) || !items.Get()) return names;
    for (const auto& name : AllNames(items.Get())) names.push_back(NarrowZ(name.c_str()));
    return names;
}

std::string Doctor::Text(std::initializer_list<const COM_WCHAR*> path, const std::string& value, COM_HRESULT* hr) {
    utlAutoBstr text;
    *hr = COM_ReadClassRootText(m_registry, path, Widen(value).c_str(), text.Put());
    return NarrowZ(text.Get());
}

bool Doctor::IsKnownClass(const _COM_GUID& clsid) const {
    if (m_classes.count(GuidText(clsid))) return true;
    utlAutoIf<COM_IClassFactory> factory;
    return COM_SUCCEEDED(GetClassObject(&clsid, &COM_IID_IClassFactory, factory.PutVoid())) && factory.Get();
}

bool Doctor::Run(COM_HRESULT* status) {
    COM_HRESULT hr = S_OK;
    const std::vector<std::string> top = Names({COM_TEXT("")}, false, &hr);
    *status = hr;
    if (COM_FAILED(hr)) return false;
    // Every class first: the ProgID, moniker and category checks look them up.
    std::vector<std::pair<std::string, _COM_GUID>> classes;
    for (const std::string& name : Names({COM_KEY_CLSID}, false)) {
        _COM_GUID clsid{};
        if (!ParseGuid(name, &clsid)) {
            Report("class-key", "CLSID\\" + name, "the key's name is not a class identifier");
            continue;
        }
        COM_HRESULT progHr = S_OK;
        std::string progid = Text({COM_KEY_CLSID, Widen(name).c_str(), COM_KEY_PROGID}, "", &progHr);
        if (COM_FAILED(progHr)) progid = Text({COM_KEY_CLSID, Widen(name).c_str()}, "", &progHr);
        m_classes[GuidText(clsid)] = COM_SUCCEEDED(progHr) ? progid : std::string();
        classes.emplace_back(name, clsid);
    }
    for (const auto& [name, clsid] : classes) CheckClass(name, clsid);
    for (const std::string& name : top) {
        if (SameName(name, NarrowZ(COM_KEY_CLSID)) || SameName(name, NarrowZ(COM_KEY_MONIKER)) ||
            SameName(name, NarrowZ(COM_KEY_CATEGORIES)))
            continue;
        CheckProgIdKey(name);
    }
    CheckMonikers();
    CheckCategories();
    return true;
}

void Doctor::CheckServer(const _COM_GUID& clsid, const std::string& key) {
    const std::string serverKey = key + "\\" + NarrowZ(COM_KEY_INPROCSERVER32);
    ServerEntry entry = ReadServerEntry(m_registry, clsid);
    if (entry.failedAt) {
        if (entry.noServerKey)
            Report("no-server", key, "no InprocServer32 key: " + StatusText(entry.status));
        else
            Report("no-server", serverKey, "no default value: " + StatusText(entry.status));
        return;
    }
    WString path;
    bool outside = false;
    StepResult resolved = ResolveLibraryPath(entry.file, &path, &outside);
    if (!resolved.Passed()) {
        Report("library-path", serverKey, resolved.detail);
        return;
    }
    // Loaded all the same; an administrator should know where from.
    if (outside) Report("outside-tree", serverKey, "loads " + DisplayPath(path) + ", outside the runtime's directory", true);
    auto cached = m_libraries.find(path);
    if (cached == m_libraries.end()) cached = m_libraries.emplace(path, CheckLibrary(path)).first;
    const LibraryCheck& library = cached->second;
    if (library.failedAt) {
        const char* kind = std::string(library.failedAt) != "load" ? "entry-point"
                           : library.fileMissing                    ? "library-missing"
                                                                    : "library-load";
        Report(kind, serverKey, DisplayPath(path) + ": " + library.result.detail);
        return;
    }
    FactoryAnswer answer;
    AskForFactory(library.getClassObject, clsid, &answer);
    if (!answer.result.Passed()) Report("factory", serverKey, DisplayPath(path) + ": " + answer.result.detail);
}

void Doctor::CheckClass(const std::string& name, const _COM_GUID& clsid) {
    const std::string key = NarrowZ(COM_KEY_CLSID) + "\\" + name;
    const WString wideName = Widen(name);
    CheckServer(clsid, key);

    const std::string& progid = m_classes[GuidText(clsid)];
    if (!progid.empty()) {
        _COM_GUID named{};
        const WString wideProgId = Widen(progid);
        COM_HRESULT hr = COM_ReadClassRootClsid(m_registry, {wideProgId.c_str(), COM_KEY_CLSID}, COM_TEXT(""), &named);
        if (COM_FAILED(hr))
            Report("progid", key + "\\" + NarrowZ(COM_KEY_PROGID),
                   "ProgID " + progid + " has no class identifier under its key: " + StatusText(hr));
        else if (!(named == clsid))
            Report("progid", key + "\\" + NarrowZ(COM_KEY_PROGID),
                   "ProgID " + progid + " names another class, " + GuidText(named));
    }

    uint32_t count = 0;
    const std::string countKey = key + "\\" + NarrowZ(COM_KEY_INSTALLCOUNT);
    COM_HRESULT hr = COM_OpenClassRootPath(m_registry, {COM_KEY_CLSID, wideName.c_str(), COM_KEY_INSTALLCOUNT});
    if (COM_SUCCEEDED(hr)) hr = m_registry->GetDWordValue(COM_TEXT(""), &count);
    if (COM_FAILED(hr))
        Report("install-count", countKey, "missing or not a number: " + StatusText(hr));
    else if (count == 0)
        Report("install-count", countKey, "zero: the class counts as not installed");
}

void Doctor::CheckProgIdKey(const std::string& name) {
    const WString wideName = Widen(name);
    const std::string key = name + "\\" + NarrowZ(COM_KEY_CLSID);
    COM_HRESULT hr = S_OK;
    const std::string text = Text({wideName.c_str(), COM_KEY_CLSID}, "", &hr);
    // Keys without a CLSID entry are no ProgIDs.
    if (COM_FAILED(hr) && COM_FAILED(COM_OpenClassRootPath(m_registry, {wideName.c_str(), COM_KEY_CLSID}))) return;
    _COM_GUID clsid{};
    if (COM_FAILED(hr) || !ParseGuid(text, &clsid)) {
        Report("progid", key, "\"" + text + "\" is not a class identifier");
        return;
    }
    auto found = m_classes.find(GuidText(clsid));
    if (found == m_classes.end())
        Report("progid", key, "names " + GuidText(clsid) + ", which has no class key");
    else if (!SameName(found->second, name))
        Report("progid", key,
               "names " + GuidText(clsid) + ", whose ProgID is " + (found->second.empty() ? "not set" : found->second));
}

// A moniker prefix's default value names the class that parses it, which
// must answer IMoniker; the status prefix's other values name the decoder
// of one facility each, which must answer IHResultDecoder.
void Doctor::CheckMonikers() {
    for (const std::string& prefix : Names({COM_KEY_MONIKER}, false)) {
        const WString widePrefix = Widen(prefix);
        const std::string key = NarrowZ(COM_KEY_MONIKER) + "\\" + prefix;
        for (const std::string& value : Names({COM_KEY_MONIKER, widePrefix.c_str()}, true)) {
            const std::string shown = value.empty() ? "(default)" : value;
            COM_HRESULT hr = S_OK;
            const std::string text = Text({COM_KEY_MONIKER, widePrefix.c_str()}, value, &hr);
            _COM_GUID clsid{};
            if (COM_FAILED(hr) || !ParseGuid(text, &clsid)) {
                Report("moniker", key, "value " + shown + " = \"" + text + "\" is not a class identifier");
                continue;
            }
            if (!IsKnownClass(clsid)) {
                Report("moniker", key, "value " + shown + " names " + text + ", which is not registered");
                continue;
            }
            const bool decoder = !value.empty() && SameName(prefix, "hresult");
            if (!value.empty() && !decoder) continue;
            const _COM_GUID& iid = decoder ? COM_IID_IHResultDecoder : COM_IID_IMoniker;
            utlAutoIf<COM_IUnknown> object;
            try {
                hr = COM_CreateInstance(clsid, 0, iid, object.PutVoid());
            } catch (const utlAutoIfBase::XBadPtrException&) {
                hr = E_POINTER;
            }
            if (COM_FAILED(hr))
                Report(decoder ? "decoder-interface" : "moniker-interface", key,
                       "value " + shown + " names " + text + ", which does not answer " +
                           (decoder ? "IHResultDecoder" : "IMoniker") + ": " + StatusText(hr));
        }
    }
}

// The category enumerator stops at a key that is no identifier and at a
// category without a text description.
void Doctor::CheckCategories() {
    for (const std::string& category : Names({COM_KEY_CATEGORIES}, false)) {
        const WString wideCategory = Widen(category);
        const std::string categoryKey = NarrowZ(COM_KEY_CATEGORIES) + "\\" + category;
        _COM_GUID catid{};
        if (!ParseGuid(category, &catid)) {
            Report("category-key", categoryKey, "the key's name is not a category identifier");
            continue;
        }
        COM_HRESULT hr = S_OK;
        Text({COM_KEY_CATEGORIES, wideCategory.c_str()}, "", &hr);
        if (COM_FAILED(hr))
            Report("category-description", categoryKey, "no description (a text default value): " + StatusText(hr));
        for (const std::string& member : Names({COM_KEY_CATEGORIES, wideCategory.c_str()}, false)) {
            const std::string key = categoryKey + "\\" + member;
            _COM_GUID clsid{};
            if (!ParseGuid(member, &clsid))
                Report("category-member", key, "the member's name is not a class identifier");
            else if (!IsKnownClass(clsid))
                Report("category-member", key, "the member class is not registered");
        }
    }
}

} // namespace

int DoctorCommand(const Args& args) {
    bool tsv = false;
    for (const std::string& a : args) {
        if (a != "--tsv") {
            std::fprintf(stderr, "doctor: unknown argument %s (expects only --tsv)\n", a.c_str());
            return 2;
        }
        tsv = true;
    }
    const std::string root = ClassRootPath();
    utlAutoIf<COM_IRegistry> registry;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
    if (COM_FAILED(hr)) {
        std::fprintf(stderr, "doctor: no registry object: %s\n", StatusText(hr).c_str());
        return 2;
    }
    Doctor doctor(registry.Get());
    if (!doctor.Run(&hr)) {
        // Nothing registered is nothing wrong; an unreadable root is.
        const bool empty = hr == COM_STATUS_FROM_WIN32(2);
        if (tsv && !empty) std::printf("class-root\t%s\t%s\n", root.c_str(), StatusText(hr).c_str());
        if (!tsv) std::printf("%s: %s (%s)\n", empty ? "no problems" : "class-root", root.c_str(), StatusText(hr).c_str());
        return empty ? 0 : 1;
    }
    for (const Problem& p : doctor.Problems()) {
        const std::string key = root + "\\" + p.key;
        if (tsv)
            std::printf("%s\t%s\t%s\n", p.kind, key.c_str(), p.detail.c_str());
        else
            std::printf("%-15s %s: %s\n", p.kind, key.c_str(), p.detail.c_str());
    }
    const size_t problems = doctor.ProblemCount(), notices = doctor.Problems().size() - problems;
    if (!tsv) {
        const std::string noticed = notices ? ", " + std::to_string(notices) + " notices" : std::string();
        if (problems == 0)
            std::printf("no problems%s: %zu classes under %s\n", noticed.c_str(), doctor.ClassCount(), root.c_str());
        else
            std::printf("%zu problems%s, %zu classes under %s\n", problems, noticed.c_str(), doctor.ClassCount(),
                        root.c_str());
    }
    return problems == 0 ? 0 : 1;
}

} // namespace tavo::tools
