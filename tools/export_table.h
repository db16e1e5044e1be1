// Reads the names a shared library exports straight from its file (ELF or
// PE), so that one routine checks both builds.
#ifndef TAVOCOM_TOOLS_EXPORT_TABLE_H
#define TAVOCOM_TOOLS_EXPORT_TABLE_H

#include <string>
#include <vector>

namespace tavo::tools {

/// Exported names, sorted. Throws std::runtime_error on unreadable files.
std::vector<std::string> ReadExportNames(const std::string& path);

} // namespace tavo::tools

#endif
