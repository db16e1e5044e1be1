// tavocom create --trace and tavocom doctor, run as a user runs them, over
// the failure cases of activation: the trace must stop at the step where
// the runtime stops, with the status COM_CreateInstance gives, and doctor
// must name the entry that causes it.
#include <greeter/greeter.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "class_root_view.h"
#include "support/dynamic_library.h"
#include "support/process.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace tavo::test {
namespace {

const std::string kSuffix = TAVOCOM_COMPONENT_SUFFIX;
constexpr uint32_t kSz = 1, kDword = 4;

struct ToolRun {
    int status;
    std::string output;
};

ToolRun Tool(const std::vector<std::string>& args) {
    ToolRun run;
    run.status = RunProgramOutput(TAVOCOM_TOOL, args, BinaryDirectory(), &run.output);
    return run;
}

// COM_CreateInstance's answer, in the trace's words. The error record of
// a failed lookup goes again: it counts on the module.
std::string Activation(const _COM_GUID& clsid, const _COM_GUID& iid) {
    char answer[32] = "raises XBadPtrException";
    try {
        utlAutoIf<COM_IUnknown> object;
        std::snprintf(answer, sizeof answer, "0x%08X", unsigned(COM_CreateInstance(clsid, 0, iid, object.PutVoid())));
    } catch (const utlAutoIfBase::XBadPtrException&) {
    }
    COM_ClearErrorInfo();
    return answer;
}

// Entries written below the class root; "@" stands for the case's class.
using Writer = void (*)(const ClassRootView& root, const std::string& id);

void Server(const ClassRootView& root, const std::string& id, const std::string& file) {
    root.Write("CLSID\\" + id + "\\InprocServer32", "", kSz, SzBytes(file));
}

struct Case {
    const char* name;
    const _COM_GUID* clsid; // null: a new identifier starting with `data1`
    uint32_t data1;         // status_echo answers it
    Writer write;
    const _COM_GUID* iid; // null: COM_IID_IUnknown
    const char* step;     // where the trace stops ("": it succeeds); null: not traced
    const char* kind;     // what doctor reports, at `key`; null: nothing to report
    const char* key;
};

const Case kCases[] = {
    {"no class key", nullptr, 1, [](const ClassRootView&, const std::string&) {}, nullptr, "class key", nullptr, nullptr},
    {"no InprocServer32 key", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) { r.Write("CLSID\\" + id, "note", kSz, SzBytes("")); }, nullptr,
     "server entry", "no-server", "CLSID\\@"},
    {"InprocServer32 without its value", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("CLSID\\" + id + "\\InprocServer32", "note", kSz, SzBytes(""));
     },
     nullptr, "server entry", "no-server", "CLSID\\@\\InprocServer32"},
    {"missing library file", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) { Server(r, id, "no_such_component" + kSuffix); }, nullptr,
     "load", "library-missing", "CLSID\\@\\InprocServer32"},
    // Loaded from there all the same; the greeter does not serve this class.
    {"library outside the runtime's directory", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) { Server(r, id, "..\\plugins\\greeter" + kSuffix); }, nullptr,
     "factory", "outside-tree", "CLSID\\@\\InprocServer32"},
    {"file that is no library", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) { Server(r, id, "not_a_library" + kSuffix); }, nullptr, "load",
     "library-load", "CLSID\\@\\InprocServer32"},
    {"library path that is a directory", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) { Server(r, id, "a_directory" + kSuffix); }, nullptr, "load",
     "library-load", "CLSID\\@\\InprocServer32"},
    {"library without CanUnloadNow", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) { Server(r, id, "no_can_unload" + kSuffix); }, nullptr,
     "CanUnloadNow", "entry-point", "CLSID\\@\\InprocServer32"},
    {"GetClassObject fails", nullptr, 0x80004005u,
     [](const ClassRootView& r, const std::string& id) { Server(r, id, "status_echo" + kSuffix); }, nullptr, "factory",
     "factory", "CLSID\\@\\InprocServer32"},
    {"GetClassObject succeeds without a factory", nullptr, 0,
     [](const ClassRootView& r, const std::string& id) { Server(r, id, "status_echo" + kSuffix); }, nullptr, "factory",
     "factory", "CLSID\\@\\InprocServer32"},
    // The greeter, as activation_test registers it: no install count.
    {"registered component", &CLSID_Greeter, 0,
     [](const ClassRootView& r, const std::string& id) { Server(r, id, "greeter" + kSuffix); }, nullptr, "",
     "install-count", "CLSID\\@\\InstallCount"},
    {"CreateInstance fails", &CLSID_Greeter, 0, [](const ClassRootView&, const std::string&) {}, &COM_IID_IMemory,
     "instance", nullptr, nullptr},
    {"class of the runtime, CreateInstance fails", &COM_CLSID_Registry, 0,
     [](const ClassRootView&, const std::string&) {}, &COM_IID_IMemory, "instance", nullptr, nullptr},
    // Entries that do not fit the registration layout.
    {"zero InstallCount", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("CLSID\\" + id + "\\InstallCount", "", kDword, DwordBytes(0));
     },
     nullptr, nullptr, "install-count", "CLSID\\@\\InstallCount"},
    {"ProgID of no class", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) { r.Write("Dangling." + id + "\\CLSID", "", kSz, SzBytes(id)); },
     nullptr, nullptr, "progid", "Dangling.@\\CLSID"},
    {"class whose ProgID key is missing", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("CLSID\\" + id + "\\ProgID", "", kSz, SzBytes("Missing." + id));
     },
     nullptr, nullptr, "progid", "CLSID\\@\\ProgID"},
    {"moniker value that is no identifier", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("Moniker\\text" + id, "item", kSz, SzBytes("not an identifier"));
     },
     nullptr, nullptr, "moniker", "Moniker\\text@"},
    {"moniker of an unregistered class", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) { r.Write("Moniker\\" + id, "", kSz, SzBytes(id)); }, nullptr,
     nullptr, "moniker", "Moniker\\@"},
    // Registered classes that do not answer what their entry is for.
    {"moniker class without IMoniker", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("Moniker\\mk" + id, "", kSz, SzBytes(GuidText(CLSID_Greeter)));
     },
     nullptr, nullptr, "moniker-interface", "Moniker\\mk@"},
    {"facility decoder without IHResultDecoder", nullptr, 1,
     [](const ClassRootView& r, const std::string&) {
         r.Write("Moniker\\hresult", "7F", kSz, SzBytes(GuidText(CLSID_Greeter)));
     },
     nullptr, nullptr, "decoder-interface", "Moniker\\hresult"},
    // Keys that stop the category enumerator.
    {"category key that is no identifier", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("ComponentCategories\\no-" + id, "", kSz, SzBytes("x"));
     },
     nullptr, nullptr, "category-key", "ComponentCategories\\no-@"},
    {"category without a description", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("ComponentCategories\\" + id, "x", kSz, SzBytes(""));
     },
     nullptr, nullptr, "category-description", "ComponentCategories\\@"},
    {"unregistered category member", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("ComponentCategories\\" + id + "\\" + id, "note", kSz, SzBytes(""));
     },
     nullptr, nullptr, "category-member", "ComponentCategories\\@\\@"},
    {"class key that is no identifier", nullptr, 1,
     [](const ClassRootView& r, const std::string& id) {
         r.Write("CLSID\\no-class-" + id, "note", kSz, SzBytes(""));
     },
     nullptr, nullptr, "class-key", "CLSID\\no-class-@"},
};

std::string WithId(std::string key, const std::string& id) {
    for (size_t at; (at = key.find('@')) != std::string::npos;) key.replace(at, 1, id);
    return key;
}

class ToolDiagnoseTest : public ModuleCountTest {
protected:
    std::string RootPath() const { return "HKLM\\Software\\Quorvalltech\\" + m_sandbox.Version() + "\\Classes\\"; }

    RegistrySandbox m_sandbox;
    ClassRootView m_root{m_sandbox};
};

TEST_F(ToolDiagnoseTest, TraceStopsWhereActivationStopsAndDoctorNamesTheEntry) {
    const std::string junk = BinaryDirectory() + "/not_a_library" + kSuffix;
    std::ofstream(junk) << "not a library\n";
    const std::filesystem::path directory = BinaryDirectory() + "/a_directory" + kSuffix;
    std::filesystem::create_directory(directory);
    std::vector<_COM_GUID> ids;
    for (const Case& c : kCases) {
        _COM_GUID id{};
        COM_GenerateCLSID(&id);
        id.Data1 = c.data1;
        ids.push_back(c.clsid ? *c.clsid : id);
        c.write(m_root, GuidText(ids.back()));
    }

    for (size_t i = 0; i < std::size(kCases); ++i) {
        const Case& c = kCases[i];
        if (!c.step) continue;
        SCOPED_TRACE(c.name);
        const _COM_GUID& iid = c.iid ? *c.iid : COM_IID_IUnknown;
        const std::string expected = Activation(ids[i], iid);
        ToolRun run = Tool({"create", "--trace", GuidText(ids[i]), GuidText(iid)});
        if (*c.step) {
            EXPECT_NE(run.output.find("verdict: fails at " + std::string(c.step) + ": " + expected), std::string::npos)
                << run.output;
            EXPECT_EQ(run.status, 1) << run.output; // 3: the real activation answered otherwise
        } else {
            EXPECT_EQ(expected, "0x00000000");
            EXPECT_NE(run.output.find("verdict: succeeds"), std::string::npos) << run.output;
            EXPECT_EQ(run.status, 0) << run.output;
        }
    }

    ToolRun doctor = Tool({"doctor", "--tsv"});
    EXPECT_EQ(doctor.status, 1) << doctor.output;
    std::set<std::string> reported;
    std::istringstream lines(doctor.output);
    for (std::string line; std::getline(lines, line);) reported.insert(line.substr(0, line.find('\t', line.find('\t') + 1)));
    for (size_t i = 0; i < std::size(kCases); ++i) {
        if (!kCases[i].kind) continue;
        const std::string problem = std::string(kCases[i].kind) + "\t" + RootPath() + WithId(kCases[i].key, GuidText(ids[i]));
        EXPECT_EQ(reported.count(problem), 1u) << kCases[i].name << ": no line " << problem << "\n" << doctor.output;
    }
    std::remove(junk.c_str());
    std::filesystem::remove(directory);
}

} // namespace
} // namespace tavo::test
