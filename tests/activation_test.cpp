// Class activation: the class object map first, then the class root of the
// registry, the component library named there and its entry points.
#include <greeter/greeter.h>

#include <filesystem>
#include <optional>

#include "support/dynamic_library.h"
#include "support/process.h"
#include "support/registry_sandbox.h"
#include "support/test_support.h"


namespace tavo::test {
namespace {

const std::string kSuffix = TAVOCOM_COMPONENT_SUFFIX;

// Whether a library at this path (relative to the test's library
// directory) is loaded in this process right now.
bool IsLoaded(const std::string& relative) {
    return IsLibraryLoaded((std::filesystem::path(BinaryDirectory()) / relative).lexically_normal().string());
}

class ActivationTest : public ModuleCountTest {
protected:
    void SetUp() override {
        ModuleCountTest::SetUp();
        COM_ClearErrorInfo();
    }
    void TearDown() override {
        COM_ClearErrorInfo();
        ModuleCountTest::TearDown();
    }

    /// Writes the class's InprocServer32 entry; a null file name writes the
    /// key without its default value, `withServerKey` false only the class key.
    void Register(const _COM_GUID& clsid, const char* fileName, bool withServerKey = true) {
        utlAutoIf<COM_IRegistry> registry;
        ASSERT_EQ(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid()), S_OK);
        ASSERT_EQ(registry->Open(COM_REGROOT_CLASSES, nullptr), S_OK);
        ASSERT_EQ(registry->CreateKey(COM_TEXT("CLSID"), 1), S_OK);
        ASSERT_EQ(registry->CreateKey(W(GuidText(clsid)).c_str(), 1), S_OK);
        if (!withServerKey) return;
        ASSERT_EQ(registry->CreateKey(COM_TEXT("InprocServer32"), 1), S_OK);
        if (fileName) {
            ASSERT_EQ(registry->SetStringValue(COM_TEXT(""), W(fileName).c_str()), S_OK);
        }
    }

    /// Expects the record a failed lookup of `clsid` leaves.
    void ExpectClassRecord(const _COM_GUID& clsid) {
        utlAutoIf<COM_IErrorInfo> record;
        ASSERT_EQ(COM_GetErrorInfo(record.Put()), S_OK);
        utlAutoBstr description, source;
        record->GetDescription(description.Put());
        record->GetSource(source.Put());
        EXPECT_EQ(Narrow(description.Get()), GuidText(clsid));
        EXPECT_EQ(Narrow(source.Get()), "RADA_API:COM_CreateInstance");
    }

    void ExpectNoRecord() {
        COM_IErrorInfo* record = nullptr;
        EXPECT_EQ(COM_GetErrorInfo(&record), S_FALSE);
    }

    RegistrySandbox m_sandbox;
};

_COM_GUID NewClsid() {
    _COM_GUID id{};
    COM_GenerateCLSID(&id);
    return id;
}

TEST_F(ActivationTest, LibraryClassesNeedNoRegistryEntry) {
    for (const _COM_GUID* clsid : {&COM_CLSID_Registry, &COM_CLSID_Memory}) {
        utlAutoIf<COM_IClassFactory> factory;
        ASSERT_EQ(COM_GetClassFactory(*clsid, factory.Put()), S_OK);
        utlAutoIf<COM_IUnknown> object;
        EXPECT_EQ(factory->CreateInstance(COM_IID_IUnknown, object.PutVoid()), S_OK);
    }
    // The class root was never opened: activation would have created it.
    utlAutoIf<COM_IRegistry> registry;
    ASSERT_EQ(COM_CreateInstance(COM_CLSID_Registry, 7, COM_IID_IRegistry, registry.PutVoid()), S_OK);
    ASSERT_EQ(registry->Open(COM_REGROOT_MACHINE, nullptr), S_OK);
    EXPECT_EQ(registry->OpenKey(COM_TEXT("Classes")), COM_STATUS_FROM_WIN32(2));
    ExpectNoRecord();
}

TEST_F(ActivationTest, MissingInterfaceOfALibraryClassLeavesNothing) {
    void* out = kPoison;
    EXPECT_EQ(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IMemory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(ActivationTest, UnregisteredClassSetsTheErrorRecord) {
    const _COM_GUID clsid = NewClsid();
    void* out = kPoison;
    EXPECT_EQ(COM_CreateInstance(clsid, 0, IID_IGreeter, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, kPoison);
    ExpectClassRecord(clsid);
}

TEST_F(ActivationTest, IncompleteEntriesAreNotAvailable) {
    const _COM_GUID noServerKey = NewClsid(), noValue = NewClsid();
    Register(noServerKey, nullptr, false);
    Register(noValue, nullptr);
    for (const _COM_GUID* clsid : {&noServerKey, &noValue}) {
        COM_IClassFactory* factory = static_cast<COM_IClassFactory*>(kPoison);
        EXPECT_EQ(COM_GetClassFactory(*clsid, &factory), CLASS_E_CLASSNOTAVAILABLE);
        ExpectClassRecord(*clsid);
    }
}

TEST_F(ActivationTest, RegisteredComponentIsLoadedAndAsked) {
    Register(CLSID_Greeter, ("greeter" + kSuffix).c_str());
    for (int32_t context : {0, 1, -1}) {
        utlAutoIf<IGreeter> greeter;
        ASSERT_EQ(COM_CreateInstance(CLSID_Greeter, context, IID_IGreeter, greeter.PutVoid()), S_OK);
        utlAutoBstr text;
        ASSERT_EQ(greeter->Greet(COM_TEXT("component"), text.Put()), S_OK);
        EXPECT_EQ(Narrow(text.Get()), "Hello, component!");
    }
    EXPECT_TRUE(IsLoaded("greeter" + kSuffix));
    ExpectNoRecord();
    // The component's objects do not count on this library.
    utlAutoIf<IGreeter> greeter;
    ASSERT_EQ(COM_CreateInstance(CLSID_Greeter, 0, IID_IGreeter, greeter.PutVoid()), S_OK);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// The value is appended to the runtime's directory unchanged, `..` and all.
TEST_F(ActivationTest, ServerValueIsAppendedUnchanged) {
    const struct {
        std::string value, loaded;
    } cases[] = {{"sub\\greeter", "sub/greeter"},
                 {"..\\plugins\\greeter", "../plugins/greeter"},
                 {"sub\\..\\decoy\\..\\sub\\greeter", "sub/greeter"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        Register(CLSID_Greeter, (c.value + kSuffix).c_str());
        utlAutoIf<IGreeter> greeter;
        ASSERT_EQ(COM_CreateInstance(CLSID_Greeter, 0, IID_IGreeter, greeter.PutVoid()), S_OK);
        EXPECT_TRUE(IsLoaded(c.loaded + kSuffix));
    }
}

TEST_F(ActivationTest, MissingFileLeavesTheErrorRecordAlone) {
    COM_IErrorInfo* before = nullptr;
    ASSERT_EQ(COM_CreateErrorInfo(&before), S_OK);
    COM_SetErrorInfo(before);

    const std::string missing[] = {
        "no_such_component.dll", "", "sub", "sub\\",
        // Absolute and over-long values are still taken below the directory.
        "C:\\windows\\system32\\kernel32.dll", "/lib/x86_64-linux-gnu/libc.so.6", std::string(300, 'x') + kSuffix,
        std::string(5000, 'y'),
        // Never taken from the working directory or a search path, where a
        // library of this name lies.
        "decoy.dll", "decoy.so",
    };
    for (const std::string& name : missing) {
        SCOPED_TRACE(name.substr(0, 40));
        const _COM_GUID clsid = NewClsid();
        Register(clsid, name.c_str());
        COM_IClassFactory* factory = static_cast<COM_IClassFactory*>(kPoison);
        EXPECT_EQ(COM_GetClassFactory(clsid, &factory), CO_E_DLLNOTFOUND);
        EXPECT_EQ(static_cast<void*>(factory), kPoison);
    }
    EXPECT_FALSE(IsLoaded("decoy/decoy" + kSuffix));

    utlAutoIf<COM_IErrorInfo> current;
    ASSERT_EQ(COM_GetErrorInfo(current.Put()), S_OK);
    EXPECT_EQ(current.Get(), before);
    before->Release();
}

TEST_F(ActivationTest, LibraryWithoutCanUnloadNowIsRefusedAndUnloaded) {
    const _COM_GUID clsid = NewClsid();
    const std::string file = "no_can_unload" + kSuffix;
    Register(clsid, file.c_str());
    // Refused twice in a row (the first refusal's unload must leave the
    // loader nothing stale), then with a load held by the host: activation
    // drops only its own.
    for (bool hostHoldsALoad : {false, false, true}) {
        SCOPED_TRACE(hostHoldsALoad);
        std::optional<DynamicLibrary> host;
        if (hostHoldsALoad) host.emplace((std::filesystem::path(BinaryDirectory()) / file).string());
        COM_IClassFactory* factory = static_cast<COM_IClassFactory*>(kPoison);
        EXPECT_EQ(COM_GetClassFactory(clsid, &factory), CO_E_ERRORINDLL);
        EXPECT_EQ(static_cast<void*>(factory), kPoison);
        EXPECT_EQ(IsLoaded(file), hostHoldsALoad);
        host.reset();
        EXPECT_FALSE(IsLoaded(file));
    }
    ExpectNoRecord();
}

TEST_F(ActivationTest, ComponentStatusesArePassedOn) {
    // status_echo returns the class identifier's first 32 bits and no factory.
    for (uint32_t status : {0x80004005u, 0x80040111u, 0x12345678u, 0xFFFFFFFFu}) {
        _COM_GUID clsid = NewClsid();
        clsid.Data1 = status;
        Register(clsid, ("status_echo" + kSuffix).c_str());
        COM_IClassFactory* factory = static_cast<COM_IClassFactory*>(kPoison);
        EXPECT_EQ(uint32_t(COM_GetClassFactory(clsid, &factory)), status);
        void* out = kPoison;
        if (COM_FAILED(COM_HRESULT(status))) {
            EXPECT_EQ(uint32_t(COM_CreateInstance(clsid, 0, COM_IID_IUnknown, &out)), status);
            EXPECT_EQ(out, kPoison);
        }
    }
    ExpectNoRecord();
    EXPECT_TRUE(IsLoaded("status_echo" + kSuffix));
}

TEST_F(ActivationTest, SuccessWithoutAFactoryRaisesInsteadOfCalling) {
    for (uint32_t status : {0u, 1u}) {
        _COM_GUID clsid = NewClsid();
        clsid.Data1 = status;
        Register(clsid, ("status_echo" + kSuffix).c_str());
        void* out = kPoison;
        EXPECT_THROW(COM_CreateInstance(clsid, 0, COM_IID_IUnknown, &out), utlAutoIfBase::XBadPtrException);
        EXPECT_EQ(out, kPoison);
    }
}

// A host program that loads the runtime by `library` from `directory` and
// activates the sample component through it: the exit status of the host.
int HostActivation(const std::string& library, const std::string& directory, const char* expected) {
    return RunProgram(BinaryDirectory() + "/" + ProgramFile("host"), {library, GuidText(CLSID_Greeter), expected},
                      directory);
}

TEST_F(ActivationTest, HostThatLoadsTheRuntimeByARelativePath) {
    Register(CLSID_Greeter, ("greeter" + kSuffix).c_str());
    EXPECT_EQ(HostActivation(std::string("./") + TAVOCOM_LIBRARY_FILE, BinaryDirectory(), "0"), 0);
}

// A host that loads a copy of the runtime from another directory: the
// greeter beside that copy is activated, unless the cut of the runtime's
// name at 260 characters falls inside its directory, where the cut name
// would point above it (a greeter waits in every directory up the tree).
TEST_F(ActivationTest, RuntimeCopiesLoadFromTheirOwnDirectory) {
    namespace fs = std::filesystem;
    Register(CLSID_Greeter, ("greeter" + kSuffix).c_str());
    // A fresh tree each run: removing one this deep is not always possible.
    const fs::path top = fs::path(BinaryDirectory()) / ("copies" + GuidText(NewClsid()).substr(1, 8));
    // Padding that makes the directory, with its separator, 246 characters
    // here (248 with a drive): it fits the buffer, the runtime's name does not.
    const size_t pad = 246 - top.string().size() - 3;
    const struct {
        const char* name;
        fs::path directory;
        const char* expected;
    } cases[] = {
        {"name cut in its file part", top / std::string(pad / 2, 'F') / std::string(pad - pad / 2, 'G'), "0"},
        {"name cut in its directory", top / std::string(100, 'A') / std::string(100, 'B') / std::string(40, 'C'),
         "800401F8"},
        // One directory on Linux, two levels on Windows: found either way.
        {"directory holding a backslash", top / "back\\slash", "0"},
    };
    const std::string greeter = "greeter" + kSuffix;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::create_directories(c.directory);
        fs::copy_file(fs::path(BinaryDirectory()) / TAVOCOM_LIBRARY_FILE, c.directory / TAVOCOM_LIBRARY_FILE);
        for (fs::path dir = c.directory; dir != top.parent_path(); dir = dir.parent_path())
            if (!fs::exists(dir / greeter)) fs::copy_file(fs::path(BinaryDirectory()) / greeter, dir / greeter);
        const int status = HostActivation((c.directory / TAVOCOM_LIBRARY_FILE).string(), BinaryDirectory(), c.expected);
        if (status == 2) GTEST_SKIP() << "this platform's loader does not load a library from " << c.directory;
        EXPECT_EQ(status, 0);
    }
    std::error_code ignored;
    fs::remove_all(top, ignored);
}

} // namespace
} // namespace tavo::test
