// Shared fixture of the registry tests: a throwaway registry and one object per test.
#ifndef TAVOCOM_TESTS_REGISTRY_FIXTURE_H
#define TAVOCOM_TESTS_REGISTRY_FIXTURE_H

#include <memory>
#include <string>
#include <vector>

#include "support/registry_sandbox.h"
#include "support/test_support.h"

namespace tavo::test {

inline utlAutoIf<COM_IRegistry> NewRegistry() {
    utlAutoIf<COM_IRegistry> r;
    EXPECT_EQ(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, r.PutVoid()), S_OK);
    return r;
}

/// Every name an enumerator hands out from its current position, one Next at a time.
inline std::vector<std::string> Drain(COM_IEnumBSTR* e) {
    std::vector<std::string> names;
    for (;;) {
        COM_BSTR item = static_cast<COM_BSTR>(kPoison);
        uint32_t fetched = 99;
        COM_HRESULT hr = e->Next(1, &item, &fetched);
        if (fetched != 1) {
            EXPECT_EQ(hr, S_FALSE);
            return names;
        }
        names.push_back(Narrow(item));
        COM_SysFreeString(item);
    }
}

inline std::vector<std::string> Names(COM_IRegistry* r, bool keys) {
    utlAutoIf<COM_IEnumBSTR> e;
    EXPECT_EQ(keys ? r->EnumKeys(e.Put()) : r->EnumValues(e.Put()), S_OK);
    return e ? Drain(e.Get()) : std::vector<std::string>{};
}
inline std::vector<std::string> KeyNames(COM_IRegistry* r) { return Names(r, true); }
inline std::vector<std::string> ValueNames(COM_IRegistry* r) { return Names(r, false); }

/// The string value `name`, or "<status>" when it cannot be read.
inline std::string ReadString(COM_IRegistry* r, const char* name) {
    utlAutoBstr text;
    COM_HRESULT hr = r->GetStringValue(W(name).c_str(), text.Put());
    return hr == S_OK ? Narrow(text.Get()) : "<" + std::to_string(uint32_t(hr)) + ">";
}

class RegistryTest : public ModuleCountTest {
protected:
    void SetUp() override {
        ModuleCountTest::SetUp();
        m_sandbox = std::make_unique<RegistrySandbox>();
        m_reg = NewRegistry();
        ASSERT_TRUE(m_reg);
    }
    void TearDown() override {
        m_reg.Reset(nullptr);
        m_sandbox.reset();
        ModuleCountTest::TearDown();
    }
    /// Hive files are ours to arrange only on the Linux build.
    bool HiveFilesAvailable() const { return !m_sandbox->HiveDirectory().empty(); }
    std::string HiveFile(const char* name) const { return m_sandbox->HiveDirectory() + "/" + name; }
    void OpenRoot(uint32_t root) { ASSERT_EQ(m_reg->Open(root, nullptr), S_OK); }

    COM_IRegistry* Reg() { return m_reg.Get(); }
    std::unique_ptr<RegistrySandbox> m_sandbox;
    utlAutoIf<COM_IRegistry> m_reg;
};

} // namespace tavo::test

#endif
