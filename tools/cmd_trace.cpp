// tavocom create --trace: the runtime's activation steps one at a time,
// each with its outcome, then the real COM_CreateInstance, so that a
// difference between the two shows.
#include <tavocom/library_entry.h>

#include <cstdio>

#include "tools/class_check.h"
#include "tools/command.h"

namespace tavo::tools {
namespace {

// The outcome the trace predicts, or that activation gave.
struct Outcome {
    const char* failedAt = nullptr; // null: success
    COM_HRESULT status = S_OK;
    bool raises = false;

    std::string Text() const { return raises ? "raises XBadPtrException" : StatusText(status); }
};

// Each line is out before the next step runs: a component that crashes
// the process leaves the steps up to its own behind, also in a pipe.
void Step(const char* name, const char* mark, const std::string& detail) {
    std::printf("  %-15s %-7s %s\n", name, mark, detail.c_str());
    std::fflush(stdout);
}

// Prints the step and, on failure, makes it the predicted outcome.
bool Passes(const char* name, const StepResult& result, Outcome* outcome) {
    Step(name, result.Passed() ? "ok" : "FAILED", result.detail);
    if (!result.Passed()) *outcome = Outcome{name, result.activation};
    return result.Passed();
}

void Instance(COM_IClassFactory* factory, const _COM_GUID& iid, Outcome* outcome) {
    utlAutoIf<COM_IUnknown> object;
    COM_HRESULT hr = factory->CreateInstance(iid, object.PutVoid());
    Passes("instance", StepResult{hr, "CreateInstance answered " + StatusText(hr)}, outcome);
}

// The runtime's own steps for a class outside its map.
void TraceRegistered(const _COM_GUID& clsid, const _COM_GUID& iid, Outcome* outcome) {
    utlAutoIf<COM_IRegistry> registry;
    COM_HRESULT hr = COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid());
    if (!Passes("registry", StepResult{COM_ClassLookupResult(hr), "registry object: " + StatusText(hr)}, outcome))
        return;
    const std::string classKey = NarrowZ(COM_KEY_CLSID) + "\\" + GuidText(clsid);
    const std::string serverKey = classKey + "\\" + NarrowZ(COM_KEY_INPROCSERVER32);
    ServerEntry entry = ReadServerEntry(registry.Get(), clsid);
    // Every failed lookup is "class not available" to the caller.
    const struct {
        const char* name;
        std::string key;
    } parts[] = {{"class root", ClassRootPath() + "\\" + NarrowZ(COM_KEY_CLSID)},
                 {"class key", classKey},
                 {"server entry", serverKey}};
    for (const auto& part : parts) {
        const bool failed = entry.failedAt && std::string(entry.failedAt) == part.name;
        std::string detail = part.key;
        if (failed) detail += ": " + StatusText(entry.status);
        else if (part.key == serverKey) detail += " = \"" + NarrowZ(entry.file.c_str()) + "\"";
        if (!Passes(part.name, StepResult{failed ? CLASS_E_CLASSNOTAVAILABLE : S_OK, detail}, outcome)) return;
    }
    WString path;
    bool outside = false;
    if (!Passes("library path", ResolveLibraryPath(entry.file, &path, &outside), outcome)) return;
    LibraryCheck library = CheckLibrary(path);
    for (const char* step : {"load", "GetClassObject", "CanUnloadNow"}) {
        if (library.failedAt && std::string(library.failedAt) == step) {
            Passes(step, library.result, outcome);
            return;
        }
        Step(step, "ok", std::string(step) == "load" ? "loaded" : "exported");
    }
    FactoryAnswer answer;
    AskForFactory(library.getClassObject, clsid, &answer);
    if (!Passes("factory", answer.result, outcome)) {
        outcome->raises = answer.raises;
        return;
    }
    Instance(answer.factory.Get(), iid, outcome);
}

bool SameOutcome(const Outcome& traced, const Outcome& real) {
    if (traced.raises || real.raises) return traced.raises == real.raises;
    if (!traced.failedAt) return COM_SUCCEEDED(real.status);
    return traced.status == real.status;
}

int Trace(const Args& args) {
    if (args.empty() || args.size() > 2) {
        std::fprintf(stderr, "create --trace: expects a class identifier or ProgID and optionally an interface identifier\n");
        return 2;
    }
    _COM_GUID clsid{}, iid = COM_IID_IUnknown;
    std::string from;
    if (!ResolveClass(args[0], &clsid, &from) || (args.size() == 2 && !ResolveInterface(args[1], &iid))) return 2;
    std::printf("trace of %s%s, interface %s\n", GuidText(clsid).c_str(), from.c_str(), GuidText(iid).c_str());
    std::fflush(stdout);

    Outcome traced;
    utlAutoIf<COM_IClassFactory> own;
    COM_HRESULT hr = GetClassObject(&clsid, &COM_IID_IClassFactory, own.PutVoid());
    if (COM_SUCCEEDED(hr) && own.Get()) {
        Step("class map", "ok", "a class of the runtime's own map: no registry needed");
        Instance(own.Get(), iid, &traced);
    } else {
        own.Reset(nullptr);
        Step("class map", "no", "not a class of the runtime: " + StatusText(hr));
        TraceRegistered(clsid, iid, &traced);
    }
    if (traced.failedAt)
        std::printf("verdict: fails at %s: %s\n", traced.failedAt, traced.Text().c_str());
    else
        std::printf("verdict: succeeds\n");

    COM_ClearErrorInfo();
    Outcome real;
    try {
        utlAutoIf<COM_IUnknown> object;
        real.status = COM_CreateInstance(clsid, 0, iid, object.PutVoid());
    } catch (const utlAutoIfBase::XBadPtrException&) {
        real.raises = true;
    }
    const bool same = SameOutcome(traced, real);
    std::printf("COM_CreateInstance: %s, %s\n", real.Text().c_str(), same ? "as traced" : "DIFFERS from the trace");
    PrintErrorRecord();
    COM_ClearErrorInfo();
    if (!same) return 3;
    return real.raises || COM_FAILED(real.status) ? 1 : 0;
}

} // namespace

int TraceCreate(const Args& args) { return Trace(args); }

} // namespace tavo::tools
