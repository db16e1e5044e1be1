// The steps of activating a registered class, taken one at a time through
// the public interface and the platform's loader, so that `doctor` and
// `create --trace` can say which step fails and why. Each step answers the
// status that COM_CreateInstance gives when the runtime fails there.
#ifndef TAVOCOM_TOOLS_CLASS_CHECK_H
#define TAVOCOM_TOOLS_CLASS_CHECK_H

#include <tavocom/tavocom.h>

#include <string>
#include <vector>

namespace tavo::tools {

using WString = std::basic_string<COM_WCHAR>;

/// The class root as `tavocom reg` names it: HKLM\Software\Quorvalltech\<version>\Classes.
std::string ClassRootPath();

/// A step's outcome. `activation` is what COM_CreateInstance answers when
/// the runtime stops at this step (S_OK: the step passed); `detail` says
/// what was found or what went wrong.
struct StepResult {
    COM_HRESULT activation = S_OK;
    std::string detail;
    bool Passed() const { return COM_SUCCEEDED(activation); }
};

/// Reading CLSID\{clsid}\InprocServer32, as activation reads it, stopping at
/// the first part that fails: which part is in `failedAt` ("class root",
/// "class key", "server entry"; null when all passed).
struct ServerEntry {
    const char* failedAt = nullptr;
    COM_HRESULT status = S_OK; // of the failing registry call
    WString file;              // the value up to its first zero
    bool noServerKey = false;  // the class key lacks InprocServer32 altogether
};
ServerEntry ReadServerEntry(COM_IRegistry* registry, const _COM_GUID& clsid);

/// Step "library path": the runtime's directory and the entry's file name,
/// and whether that path leads outside the runtime's directory tree.
StepResult ResolveLibraryPath(const WString& file, WString* path, bool* outside);

/// Steps "load", "GetClassObject" and "CanUnloadNow" for one library file.
/// A library with both entry points stays loaded for the rest of the
/// process, as the runtime keeps it; any other is unloaded again.
struct LibraryCheck {
    const char* failedAt = nullptr; // null: both entry points found
    StepResult result;
    bool fileMissing = false;
    bool isDirectory = false; // the path names a directory
    COM_PFN_GetClassObject getClassObject = nullptr;
};
LibraryCheck CheckLibrary(const WString& path);

/// Step "factory": asks the library's GetClassObject for the class's
/// factory. A success without a factory makes the runtime raise
/// utlAutoIfBase::XBadPtrException; `raises` says so.
struct FactoryAnswer {
    StepResult result;
    bool raises = false;
    utlAutoIf<COM_IClassFactory> factory;
};
void AskForFactory(COM_PFN_GetClassObject getClassObject, const _COM_GUID& clsid, FactoryAnswer* answer);

/// A path as built, with the separators of this system for display.
std::string DisplayPath(const WString& path);

/// ASCII case-insensitive equality, as the registry compares names.
bool SameName(const std::string& a, const std::string& b);

/// An identifier text, or else a ProgID looked up under the class root;
/// false, with a message, for a malformed identifier or an unknown ProgID.
/// `from` (optional) says " (ProgID X)" when the class came from one.
bool ResolveClass(const std::string& text, _COM_GUID* clsid, std::string* from = nullptr);
/// An interface identifier text; false, with a message, for anything else.
bool ResolveInterface(const std::string& text, _COM_GUID* iid);

/// `create --trace CLASS [INTERFACE]` (cmd_trace.cpp): exit status 0 when
/// activation succeeds, 1 when it fails as traced, 2 for text that names no
/// class, 3 when COM_CreateInstance answers otherwise than the trace.
int TraceCreate(const std::vector<std::string>& args);

} // namespace tavo::tools

#endif
