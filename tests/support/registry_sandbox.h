// A throwaway registry for one test.
#ifndef TAVOCOM_TESTS_REGISTRY_SANDBOX_H
#define TAVOCOM_TESTS_REGISTRY_SANDBOX_H

#include <string>

namespace tavo::test {

/// Sets (or, with null, removes) a variable of this process's environment,
/// where the library's own reads see it.
void SetEnv(const char* name, const char* value);

/// Whether the registry lives in hive files the tests place themselves.
bool HasHiveFiles();

/// Gives the test its own registry: a version key of its own through
/// COM_VERSION and, on Linux, hive files in a fresh temporary directory.
/// The version keys it used are removed again at the end.
class RegistrySandbox {
public:
    RegistrySandbox();
    ~RegistrySandbox();
    RegistrySandbox(const RegistrySandbox&) = delete;
    RegistrySandbox& operator=(const RegistrySandbox&) = delete;

    /// The version key name in use, e.g. "TEST-1A2B3C4D".
    const std::string& Version() const { return m_version; }
    /// The temporary directory of the hive files (empty on Windows).
    const std::string& HiveDirectory() const { return m_hiveDir; }

private:
    std::string m_version;
    std::string m_hiveDir;
};

} // namespace tavo::test

#endif
