// The demo: one pass over what the runtime does, as a client sees it.
#include <cstdio>
#include <filesystem>

#include <tavocom/library_entry.h>

#include "platform/registry.h"
#include "tools/command.h"

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

int Demo(const Args&) {
    std::printf("== TAVOCOM64 demo ==\n");
    ScratchStore scratch;

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

    std::printf("\n-- strings --\n");
    utlAutoBstr s(COM_SysAllocString(COM_TEXT("length-prefixed")));
    std::printf("\"%s\": %u characters, %u bytes\n", Narrow(s.Get()).c_str(), COM_SysStringLen(s.Get()),
                COM_SysStringByteLen(s.Get()));

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

    for (const auto& step : DemoSteps()) step();

    std::printf("\nCanUnloadNow: %s\n", CanUnloadNow() == S_OK ? "S_OK" : "S_FALSE");
    return 0;
}

CommandRegistrar g_demo({"demo", "", "walk through what the runtime does", Demo, "tavocom demo"});

} // namespace
} // namespace tavo::tools
