// The child of `tavocom check`: loads the library, runs its registration
// round trip on the scratch registry the parent set up, and puts every
// registered class and decoder through the object rules. Each step is
// announced before it runs, so that the parent can name the step a crash or
// a hang happened in and start a new child after it.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>

#include "platform/loader.h"
#include "registry/root_path.h"
#include "tools/check/check.h"
#include "tools/check/process.h"
#include "tools/check/snapshot.h"
#include "tools/class_check.h"
#include "tools/command.h"

namespace tavo::tools::check {
namespace {

using EntryPoint = COM_HRESULT (*)();

// Identifiers no component answers: the checks of refusals ask for them.
constexpr _COM_GUID kUnknownClass = {0x6B1D3E27, 0x0C4A, 0x4E55, {0x9F, 0x21, 0x7A, 0x30, 0xC5, 0x18, 0xE2, 0x93}};
constexpr _COM_GUID kUnknownInterface = {0x3C9A0F51, 0xD2B8, 0x4A17, {0x86, 0x4E, 0x11, 0xF7, 0x5B, 0x2C, 0x90, 0xAD}};

const char kClassKeys[] = "Classes\\CLSID\\";

struct Decoder {
    uint32_t facility;
    _COM_GUID clsid;
};

class Child {
public:
    Child(const Options& options, unsigned resume) : m_options(options), m_resume(resume) {}

    int Run();

private:
    bool Step(const char* name, const std::string& subject) {
        const unsigned index = m_index++;
        if (index < m_resume) return false;
        std::printf("%s\t%u\t%s\t%s\n", kStepTag, index, name, subject.c_str());
        std::fflush(stdout);
        return true;
    }
    // Reports a rule once per subject: its first failure, or that it passed.
    void Verdict(const char* verdict, const char* rule, const std::string& subject, const std::string& text) {
        std::printf("%s\t%s\t%s\t%s\t%s\n", kFindingTag, verdict, rule, subject.c_str(), text.c_str());
        std::fflush(stdout);
    }
    void Rule(const char* rule, const std::string& subject, const std::string& failure, const std::string& passText = "") {
        Verdict(failure.empty() ? "pass" : "fail", rule, subject, failure.empty() ? passText : failure);
    }

    bool Load();
    COM_HRESULT Call(const char* entry);
    void RegistrationRoundTrip();
    void RegisterForUse();
    void CheckClass(const _COM_GUID& clsid);
    void CheckNullOut(const _COM_GUID& clsid);
    void CheckDecoder(const Decoder& decoder);
    std::string CanUnload() const {
        return m_canUnloadNow ? Hex32(uint32_t(m_canUnloadNow())) : std::string("(no CanUnloadNow)");
    }

    const Options& m_options;
    const unsigned m_resume;
    unsigned m_index = 0;
    std::string m_root; // the version key, below which the runtime keeps its roots
    plat::LibraryLoad m_library;
    std::string m_fileName;
    COM_PFN_GetClassObject m_getClassObject = nullptr;
    EntryPoint m_canUnloadNow = nullptr;
    std::vector<_COM_GUID> m_classes;
    std::vector<Decoder> m_decoders;
};

bool Child::Load() {
    const std::string& path = m_options.libraries.front();
    std::error_code ignored;
    std::string full = std::filesystem::absolute(std::filesystem::path(path), ignored).string();
    m_fileName = std::filesystem::path(full).filename().string();
    for (char& c : full)
        if (c == '/') c = '\\';
    m_library.Reset(plat::LoadLibraryW(Widen(full).c_str()));
    if (!m_library) {
        Rule("load", path, "the library cannot be loaded");
        return false;
    }
    m_getClassObject = reinterpret_cast<COM_PFN_GetClassObject>(plat::GetProcAddress(m_library.Get(), "GetClassObject"));
    m_canUnloadNow = reinterpret_cast<EntryPoint>(plat::GetProcAddress(m_library.Get(), "CanUnloadNow"));
    return true;
}

COM_HRESULT Child::Call(const char* entry) {
    auto run = reinterpret_cast<EntryPoint>(plat::GetProcAddress(m_library.Get(), entry));
    return run ? run() : COM_HRESULT(E_NOTIMPL);
}

// Keys that the runtime's registration code creates and leaves in place
// (empty), whoever registered: not the library's leftovers.
bool KnownLeftover(const std::string& key, const std::map<std::string, Value>& values) {
    static const char* const kKnown[] = {"", "Classes", "Classes\\CLSID", "Classes\\Moniker", "Classes\\Moniker\\hresult",
                                         "Classes\\ComponentCategories"};
    for (const char* known : kKnown)
        if (SameName(key, known)) return values.empty();
    return false;
}

uint32_t InstallCount(const Tree& tree, const std::string& classKey, bool* isDword) {
    auto k = tree.find(classKey + "\\InstallCount");
    *isDword = false;
    if (k == tree.end()) return 0;
    auto v = k->second.find("");
    if (v == k->second.end() || v->second.type != plat::kRegDword || v->second.data.size() != 4) return 0;
    *isDword = true;
    const auto* b = reinterpret_cast<const unsigned char*>(v->second.data.data());
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

std::string CountText(const Tree& tree, const std::string& classKey) {
    bool dword = false;
    const uint32_t n = InstallCount(tree, classKey, &dword);
    return dword ? std::to_string(n) : std::string("no REG_DWORD InstallCount");
}

// The class keys a registration added.
std::vector<std::string> AddedClasses(const Tree& before, const Tree& after) {
    std::vector<std::string> keys;
    const std::string prefix = kClassKeys;
    for (const auto& [key, values] : after) {
        if (key.size() <= prefix.size() || key.compare(0, prefix.size(), prefix) != 0) continue;
        if (key.find('\\', prefix.size()) != std::string::npos || before.count(key)) continue;
        keys.push_back(key);
    }
    return keys;
}

// The server entry names the library: its file name, or another name of the
// same file beside it (a link such as the versioned name of a shared object).
bool NamesLibrary(const std::string& server, const std::string& library) {
    const std::filesystem::path path = std::filesystem::absolute(library);
    if (SameName(server, path.filename().string())) return true;
    std::error_code ignored;
    return !server.empty() && std::filesystem::equivalent(path.parent_path() / server, path, ignored);
}

std::string LayoutProblem(const Tree& tree, const std::string& key, const std::string& library) {
    const std::string fileName = std::filesystem::path(library).filename().string();
    const std::string clsid = key.substr(sizeof kClassKeys - 1);
    const std::string progid = DefaultText(tree, key);
    if (progid.empty()) return key + " has no ProgID as its default value";
    const std::string server = DefaultText(tree, key + "\\InprocServer32");
    if (!NamesLibrary(server, library)) return key + "\\InprocServer32 names \"" + server + "\", not " + fileName;
    if (DefaultText(tree, key + "\\ProgID") != progid) return key + "\\ProgID does not hold " + progid;
    bool dword = false;
    if (InstallCount(tree, key, &dword) != 1 || !dword)
        return key + "\\InstallCount is " + CountText(tree, key) + " after one registration, not 1";
    if (!SameName(DefaultText(tree, "Classes\\" + progid + "\\CLSID"), clsid))
        return "Classes\\" + progid + "\\CLSID does not name " + clsid;
    return std::string();
}

// Moniker and category entries must name classes that are registered.
std::string ReferenceProblem(const Tree& before, const Tree& after) {
    for (const auto& [key, values] : after) {
        const bool moniker = key.rfind("Classes\\Moniker\\", 0) == 0;
        const bool category = key.rfind("Classes\\ComponentCategories\\", 0) == 0;
        if (!moniker && !category) continue;
        auto old = before.find(key);
        for (const auto& [name, value] : values) {
            if (old != before.end() && old->second.count(name) && old->second.at(name) == value) continue;
            std::string text = Text(value);
            _COM_GUID id{};
            if (!ParseGuid(text, &id)) {
                if (category) continue; // descriptions and the like
                return key + " value \"" + name + "\" holds \"" + text + "\", not a class identifier";
            }
            if (!after.count(kClassKeys + GuidText(id)))
                return key + " value \"" + name + "\" names " + text + ", which is not registered";
        }
        if (!category || before.count(key)) continue;
        // A member key of a category, ComponentCategories\{catid}\{clsid}.
        const std::string rest = key.substr(sizeof "Classes\\ComponentCategories\\" - 1);
        const size_t slash = rest.find('\\');
        _COM_GUID member{};
        if (slash != std::string::npos && ParseGuid(rest.substr(slash + 1), &member) &&
            !after.count(kClassKeys + GuidText(member)))
            return key + " names " + rest.substr(slash + 1) + ", which is not registered";
    }
    return std::string();
}

std::string Leftovers(const Tree& before, const Tree& after) {
    for (const auto& [key, values] : after) {
        auto old = before.find(key);
        if (old == before.end()) {
            if (KnownLeftover(key, values)) continue;
            return "left " + key + (values.empty() ? std::string() : " with " + std::to_string(values.size()) + " value(s)");
        }
        for (const auto& [name, value] : values)
            if (!old->second.count(name) || !(old->second.at(name) == value))
                return "left value \"" + name + "\" of " + key;
    }
    for (const auto& [key, values] : before)
        if (!after.count(key)) return "removed " + key + ", which it had not written";
    return std::string();
}

void Child::RegistrationRoundTrip() {
    const std::string subject = m_fileName;
    const Tree before = TakeSnapshot(plat::kHKeyLocalMachine, m_root);
    COM_HRESULT hr = Call("DllRegisterServer");
    const Tree once = TakeSnapshot(plat::kHKeyLocalMachine, m_root);
    const std::vector<std::string> added = AddedClasses(before, once);
    std::string problem;
    if (hr != S_OK)
        problem = "DllRegisterServer returned " + StatusText(hr);
    else if (added.empty())
        problem = "DllRegisterServer wrote no class key";
    for (size_t i = 0; problem.empty() && i < added.size(); ++i) problem = LayoutProblem(once, added[i], m_options.libraries.front());
    if (problem.empty()) problem = ReferenceProblem(before, once);
    Rule("registration.layout", subject, problem, std::to_string(added.size()) + " class(es) registered");

    Call("DllRegisterServer");
    const Tree twice = TakeSnapshot(plat::kHKeyLocalMachine, m_root);
    problem.clear();
    for (const std::string& key : added)
        if (problem.empty() && CountText(twice, key) != "2")
            problem = key + "\\InstallCount is " + CountText(twice, key) + " after two registrations, not 2";
    Call("DllUnregisterServer");
    const Tree unregOnce = TakeSnapshot(plat::kHKeyLocalMachine, m_root);
    for (const std::string& key : added)
        if (problem.empty() && CountText(unregOnce, key) != "1")
            problem = key + "\\InstallCount is " + CountText(unregOnce, key) + " after two registrations and one removal, not 1";
    Rule("registration.count", subject, problem);
    if (!problem.empty()) return; // the removal cannot be judged on a count that is wrong

    hr = Call("DllUnregisterServer");
    const Tree after = TakeSnapshot(plat::kHKeyLocalMachine, m_root);
    problem = Leftovers(before, after);
    if (problem.empty() && COM_FAILED(hr)) problem = "DllUnregisterServer returned " + StatusText(hr);
    Rule("registration.removal", subject, problem);
}

void Child::RegisterForUse() {
    const Tree before = TakeSnapshot(plat::kHKeyLocalMachine, m_root);
    if (m_options.registerForUse && plat::GetProcAddress(m_library.Get(), "DllRegisterServer")) Call("DllRegisterServer");
    const Tree after = TakeSnapshot(plat::kHKeyLocalMachine, m_root);
    std::set<std::string> seen;
    auto add = [&](const _COM_GUID& id) {
        if (seen.insert(GuidText(id)).second) m_classes.push_back(id);
    };
    for (const std::string& key : AddedClasses(before, after)) {
        _COM_GUID id{};
        if (ParseGuid(key.substr(sizeof kClassKeys - 1), &id)) add(id);
    }
    for (const _COM_GUID& id : m_options.classes) add(id);
    auto decoders = after.find("Classes\\Moniker\\hresult");
    if (decoders == after.end()) return;
    for (const auto& [name, value] : decoders->second) {
        _COM_GUID id{};
        char* end = nullptr;
        const unsigned long facility = std::strtoul(name.c_str(), &end, 16);
        if (name.empty() || *end || !ParseGuid(Text(value), &id) || !seen.count(GuidText(id))) continue;
        m_decoders.push_back({uint32_t(facility), id});
    }
}

void Child::CheckClass(const _COM_GUID& clsid) {
    const std::string subject = GuidText(clsid);
    utlAutoIf<COM_IClassFactory> factory;
    COM_HRESULT hr = m_getClassObject(&clsid, &COM_IID_IClassFactory, factory.PutVoid());
    if (hr != S_OK || !factory.Get()) {
        Rule("factory", subject, "GetClassObject gave " + StatusText(hr) + (factory.Get() ? "" : " and no factory"));
        return;
    }
    Rule("factory", subject, "");
    void* other = &other;
    hr = m_getClassObject(&kUnknownClass, &COM_IID_IClassFactory, &other);
    Rule("factory.unknown-class", subject,
         hr == CLASS_E_CLASSNOTAVAILABLE ? "" : "GetClassObject of an unknown class gave " + StatusText(hr));
    if (COM_SUCCEEDED(hr) && other && other != &other) static_cast<COM_IUnknown*>(other)->Release();

    std::string unload = m_canUnloadNow && m_canUnloadNow() != S_FALSE
                             ? "CanUnloadNow answers " + CanUnload() + " while a factory reference lives"
                             : std::string();

    utlAutoIf<COM_IUnknown> object;
    hr = factory->CreateInstance(COM_IID_IUnknown, object.PutVoid());
    if (hr != S_OK || !object.Get()) {
        Rule("create", subject, "CreateInstance of COM_IUnknown gave " + StatusText(hr));
        return;
    }
    other = &other;
    hr = factory->CreateInstance(kUnknownInterface, &other);
    std::string refusal;
    if (hr != E_NOINTERFACE) refusal = "CreateInstance of an unknown interface gave " + StatusText(hr);
    else if (other) refusal = "CreateInstance of an unknown interface left the out pointer set";
    Rule("create", subject, refusal);
    if (COM_SUCCEEDED(hr) && other && other != &other) static_cast<COM_IUnknown*>(other)->Release();
    factory.Reset(nullptr);
    if (unload.empty() && m_canUnloadNow && m_canUnloadNow() != S_FALSE)
        unload = "CanUnloadNow answers " + CanUnload() + " while an object lives";

    // Counting first, on the object alone: a count that drops too far
    // destroys the object, which is then not touched again.
    const uint32_t up = object->AddRef();
    const uint32_t down = object->Release();
    std::string counting;
    if (up != 2 || down != 1)
        counting = "AddRef then Release on a new object returned " + std::to_string(up) + ", " + std::to_string(down) +
                   " (expected 2, 1)";
    if (down == 0) {
        Rule("refcount", subject, counting);
        object.Detach();
        return;
    }

    std::vector<_COM_GUID> asked{COM_IID_IUnknown};
    for (const _COM_GUID& iid : m_options.interfaces) asked.push_back(iid);
    for (const Decoder& d : m_decoders)
        if (d.clsid == clsid) asked.push_back(COM_IID_IHResultDecoder);
    std::vector<std::pair<_COM_GUID, utlAutoIf<COM_IUnknown>>> answered;
    std::string identity, reflexive, symmetric, transitive, refuse;
    for (const _COM_GUID& iid : asked) {
        utlAutoIf<COM_IUnknown> p;
        if (object->QueryInterface(iid, p.PutVoid()) == S_OK && p.Get()) answered.emplace_back(iid, std::move(p));
        else if (iid == COM_IID_IUnknown) identity = "QueryInterface of COM_IUnknown fails";
    }
    // Asks `from` for `iid`: whether it answers, and which pointer.
    auto ask = [](COM_IUnknown* from, const _COM_GUID& iid, void** got) {
        utlAutoIf<COM_IUnknown> p;
        const bool ok = from->QueryInterface(iid, p.PutVoid()) == S_OK && p.Get();
        if (got) *got = p.Get();
        return ok;
    };
    for (auto& [iid, p] : answered) {
        void* unknown = nullptr;
        if (identity.empty() && (!ask(p.Get(), COM_IID_IUnknown, &unknown) || unknown != object.Get()))
            identity = "COM_IUnknown asked of " + GuidText(iid) + " is not the object's COM_IUnknown";
        if (reflexive.empty() && !ask(p.Get(), iid, nullptr))
            reflexive = GuidText(iid) + " does not answer itself";
        void* refused = &refused;
        const COM_HRESULT no = p->QueryInterface(kUnknownInterface, &refused);
        if (refuse.empty() && (no != E_NOINTERFACE || refused))
            refuse = GuidText(iid) + " asked for an unknown interface gave " + StatusText(no) +
                     (refused ? " and left the out pointer set" : "");
        if (COM_SUCCEEDED(no) && refused && refused != &refused) static_cast<COM_IUnknown*>(refused)->Release();
    }
    for (auto& [a, pa] : answered)
        for (auto& [b, pb] : answered)
            if (symmetric.empty() && ask(pa.Get(), b, nullptr) && !ask(pb.Get(), a, nullptr))
                symmetric = GuidText(a) + " answers " + GuidText(b) + ", which does not answer it back";
    if (symmetric.empty())
        for (auto& [a, pa] : answered)
            for (auto& [b, pb] : answered)
                for (auto& [c, pc] : answered)
                    if (transitive.empty() && ask(pa.Get(), b, nullptr) && ask(pb.Get(), c, nullptr) &&
                        !ask(pa.Get(), c, nullptr))
                        transitive = GuidText(a) + " answers " + GuidText(b) + ", which answers " + GuidText(c) +
                                     ", but " + GuidText(a) + " does not";
    const std::string count = std::to_string(answered.size()) + " interface(s) answered";
    Rule("qi.identity", subject, identity, count);
    Rule("qi.reflexive", subject, reflexive, count);
    Rule("qi.symmetric", subject, symmetric, count);
    Rule("qi.transitive", subject, transitive, count);
    Rule("qi.refuse", subject, refuse, count);
    answered.clear();
    const uint32_t last = object.Detach()->Release();
    if (counting.empty() && last != 0) counting = "the last Release returned " + std::to_string(last) + ", not 0";
    Rule("refcount", subject, counting);
    if (unload.empty() && m_canUnloadNow && m_canUnloadNow() != S_OK)
        unload = "CanUnloadNow answers " + CanUnload() + " after the last release";
    if (m_canUnloadNow) Rule("unload", subject, unload);
}

void Child::CheckNullOut(const _COM_GUID& clsid) {
    const std::string subject = GuidText(clsid);
    std::string problem;
    COM_HRESULT hr = m_getClassObject(&clsid, &COM_IID_IClassFactory, nullptr);
    if (hr != E_POINTER) problem = "GetClassObject with a null out argument gave " + StatusText(hr);
    utlAutoIf<COM_IClassFactory> factory;
    if (m_getClassObject(&clsid, &COM_IID_IClassFactory, factory.PutVoid()) == S_OK && factory.Get()) {
        hr = factory->CreateInstance(COM_IID_IUnknown, nullptr);
        if (problem.empty() && hr != E_POINTER)
            problem = "CreateInstance with a null out argument gave " + StatusText(hr);
    }
    Rule("factory.null-out", subject, problem);
}

void Child::CheckDecoder(const Decoder& decoder) {
    char facility[16];
    std::snprintf(facility, sizeof facility, "%X", decoder.facility);
    const std::string subject = GuidText(decoder.clsid) + " facility " + facility;
    utlAutoIf<COM_IClassFactory> factory;
    utlAutoIf<COM_IHResultDecoder> object;
    COM_HRESULT hr = m_getClassObject(&decoder.clsid, &COM_IID_IClassFactory, factory.PutVoid());
    if (hr == S_OK && factory.Get()) hr = factory->CreateInstance(COM_IID_IHResultDecoder, object.PutVoid());
    if (hr != S_OK || !object.Get()) {
        Rule("decoder.interface", subject, "no COM_IHResultDecoder: " + StatusText(hr));
        return;
    }
    Rule("decoder.interface", subject, "");
    std::vector<uint32_t> codes;
    for (uint32_t code : m_options.codes)
        if (((code >> 16) & 0x1FFF) == decoder.facility) codes.push_back(code);
    if (codes.empty())
        for (uint32_t n = 0; n <= 16; ++n) codes.push_back(0x80000000u | decoder.facility << 16 | n);
    std::string problem;
    for (uint32_t code : codes) {
        utlAutoBstr text;
        hr = object->Decode(COM_HRESULT(code), nullptr, text.Put());
        if (problem.empty() && (COM_FAILED(hr) || NarrowZ(text.Get()).empty()))
            problem = Hex32(code) + " gave " + StatusText(hr) + (NarrowZ(text.Get()).empty() ? " and no text" : "");
    }
    Rule("decoder.decode", subject, problem, std::to_string(codes.size()) + " code(s) decoded");
    const uint32_t foreign = 0x80000000u | ((decoder.facility ^ 1) << 16) | 1;
    utlAutoBstr text;
    hr = object->Decode(COM_HRESULT(foreign), nullptr, text.Put());
    std::string answer;
    if (COM_SUCCEEDED(hr))
        answer = Hex32(foreign) + " of another facility gave " + StatusText(hr) +
                 (NarrowZ(text.Get()).empty() ? " and no text" : " and \"" + NarrowLine(text.Get()) + "\"");
    Rule(COM_SUCCEEDED(hr) && NarrowZ(text.Get()).empty() ? "decoder.decode" : "decoder.foreign", subject, answer);
}

int Child::Run() {
    PrepareChildProcess();
    const char* version = std::getenv(registry::kVersionVariable);
    m_root = std::string(registry::kMakerKey) + (version && *version ? version : registry::kDefaultVersion);
    // Loading and the registration the later steps use run in every child.
    std::printf("%s\t%u\t%s\t%s\n", kStepTag, 0u, "load", m_options.libraries.front().c_str());
    std::fflush(stdout);
    if (!Load()) {
        std::printf("%s\n", kEndTag);
        return 1;
    }
    m_index = 1;
    const bool registers = plat::GetProcAddress(m_library.Get(), "DllRegisterServer") &&
                           plat::GetProcAddress(m_library.Get(), "DllUnregisterServer");
    if (registers && Step("registration", m_fileName)) RegistrationRoundTrip();
    std::printf("%s\t%u\t%s\t%s\n", kStepTag, m_index++, "setup", m_fileName.c_str());
    std::fflush(stdout);
    RegisterForUse();
    if (m_classes.empty())
        Verdict("notice", "classes", m_fileName, "no registered class to check; name one with --class");
    if (m_getClassObject)
        for (const _COM_GUID& clsid : m_classes) {
            if (Step("class", GuidText(clsid))) CheckClass(clsid);
            if (Step("factory.null-out", GuidText(clsid))) CheckNullOut(clsid);
        }
    if (m_getClassObject)
        for (const Decoder& decoder : m_decoders)
            if (Step("decoder", GuidText(decoder.clsid))) CheckDecoder(decoder);
    if (registers && m_options.registerForUse) Call("DllUnregisterServer");
    std::printf("%s\n", kEndTag);
    std::fflush(stdout);
    return 0;
}

} // namespace

int RunChild(const Options& options, unsigned resume) {
    if (options.libraries.size() != 1) return 2;
    return Child(options, resume).Run();
}

} // namespace tavo::tools::check
