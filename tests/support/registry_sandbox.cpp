#include "support/registry_sandbox.h"

#include <tavocom/tavocom.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace tavo::test {
namespace {

std::string NewVersionName() {
    _COM_GUID id{};
    COM_GenerateCLSID(&id);
    char name[32];
    std::snprintf(name, sizeof name, "TEST-%08X%04X", id.Data1, id.Data2);
    return name;
}

// Removes the tree of one root selector through the registry service.
void RemoveRoot(uint32_t root) {
    utlAutoIf<COM_IRegistry> registry;
    if (COM_FAILED(COM_CreateInstance(COM_CLSID_Registry, 0, COM_IID_IRegistry, registry.PutVoid()))) return;
    if (COM_SUCCEEDED(registry->Open(root, nullptr))) registry->DeleteKey(COM_TEXT(""));
}

} // namespace

RegistrySandbox::RegistrySandbox() : m_version(NewVersionName()) {
    if (HasHiveFiles()) {
        std::filesystem::path dir = std::filesystem::temp_directory_path() / ("tavocom-" + m_version);
        std::filesystem::create_directories(dir);
        m_hiveDir = dir.string();
        SetEnv("TAVOCOM_MACHINE_HIVE", (dir / "machine.db").string().c_str());
        SetEnv("TAVOCOM_USER_HIVE", (dir / "user.db").string().c_str());
    }
    SetEnv("COM_VERSION", m_version.c_str());
}

RegistrySandbox::~RegistrySandbox() {
    SetEnv("COM_VERSION", m_version.c_str());
    RemoveRoot(COM_REGROOT_MACHINE);
    RemoveRoot(COM_REGROOT_USER);
    SetEnv("COM_VERSION", nullptr);
    if (!m_hiveDir.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_hiveDir, ignored);
    }
}

} // namespace tavo::test
