// Where the product's registry roots lie below their hive. The registry
// object opens them and the tool names them to its user from these.
#ifndef TAVOCOM_REGISTRY_ROOT_PATH_H
#define TAVOCOM_REGISTRY_ROOT_PATH_H

namespace tavo::registry {

/// Below either hive; the vendor root of COM_REGROOT_USER_VENDOR.
inline constexpr char kMakerKey[] = "Software\\Quorvalltech\\";
/// Names the version key below the maker's; unset or empty: the default.
inline constexpr char kVersionVariable[] = "COM_VERSION";
inline constexpr char kDefaultVersion[] = "TAVO-2024.1";
/// Below the version key of the machine hive.
inline constexpr char kClassesKey[] = "\\Classes";
inline constexpr char kApplicationDataKey[] = "\\ApplicationData";

} // namespace tavo::registry

#endif
