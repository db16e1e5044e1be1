// The platform side of the benchmarks: baselines done with the bare
// platform calls (Windows) or their nearest equivalent (Linux), and the
// throwaway registry the benchmarks use. CMake picks the file.
#ifndef TAVOCOM_BENCH_BASELINE_H
#define TAVOCOM_BENCH_BASELINE_H

#include <tavocom/tavocom.h>

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

/// Makes key `path` below the version key of the machine hive with `count`
/// subkeys "name<i>" and as many DWORD values of the same names, in one
/// transaction where the registry has them. False when that fails, or
/// when the platform's registry takes too long for so many (Windows: more
/// than 10,000).
bool FillNames(const std::string& version, const std::string& path, int count);

/// The floor of a walk over the names of the subkeys (or values) of key
/// `path` below the version key of the machine hive: one statement over
/// the same rows, in the same order. The number of names, or -1 where the
/// registry is not a database of ours (Windows).
int64_t BareWalkNames(const std::string& version, const std::string& path, bool values);

/// Identifier to text and back: the platform's own calls, or where there
/// are none the same text work with the C library.
void BaselineGuidRoundTrip(const _COM_GUID& id);
/// A string allocated and freed: the platform's call, or a std::u16string.
void BaselineStringAllocFree(const COM_WCHAR* text);

/// Registers the platform's own activation of a class equivalent to the
/// sample component, where the platform has one; false where it has none.
bool RegisterPlatformActivationBaseline();

/// Registers the platform's own message call for `code` (FormatMessageW,
/// flags 0x1300, language 0, then LocalFree) as a baseline, where the
/// platform has a message table; false where it has none.
bool RegisterSystemMessageBaseline(uint32_t code);

/// Finds `file` in the runtime library's directory for LoadFloor; false
/// when the runtime's directory cannot be had.
bool PrepareLoadFloor(const std::string& file);
/// The floor of activating a class whose library is loaded already: the
/// platform's own calls load the prepared library again, look up its two
/// entry points and free it. False when a step fails.
bool LoadFloor();

} // namespace tavo::bench

#endif
