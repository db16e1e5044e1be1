// The bare platform calls of the registry benchmarks: the same work as the
// registry object's sequences, done directly against the platform registry
// (Windows) or the registry store's database (Linux). CMake picks the file.
#ifndef TAVOCOM_BENCH_REGISTRY_BASELINE_H
#define TAVOCOM_BENCH_REGISTRY_BASELINE_H

#include <string>

namespace tavo::bench {

/// Points the registry at a throwaway place (hive files in a temporary
/// directory where the platform has none) and names the version key.
void PrepareRegistry(const std::string& version);
/// Removes what PrepareRegistry made outside the registry itself.
void CleanUpRegistry();

/// Reads the default value of Classes\CLSID\{clsid}\InprocServer32 below
/// the version key, from the machine hive. Returns the text.
std::string BareReadSequence(const std::string& version, const std::string& clsid);
/// Creates key `name` below Classes and writes one string and one number.
bool BareWriteSequence(const std::string& version, const std::string& name);

} // namespace tavo::bench

#endif
