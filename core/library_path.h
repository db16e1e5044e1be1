// Where activation loads a registered class's library from: the runtime's
// own directory and the InprocServer32 value appended to it. The runtime
// and the tool's trace and doctor compile these same rules, so that what
// the tool explains is what the runtime does.
#ifndef TAVOCOM_CORE_LIBRARY_PATH_H
#define TAVOCOM_CORE_LIBRARY_PATH_H

#include <tavocom/types.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/loader.h"

namespace tavo::core {

/// The module whose directory components are loaded from.
inline constexpr char kRuntimeModuleName[] = "TAVOCOM64";
/// The module name is read into this many characters, terminator included.
inline constexpr uint32_t kModuleNameCapacity = 260;

/// The runtime's directory with its trailing `\`; none when the runtime is
/// not loaded or the cut of its name falls inside the directory.
inline std::optional<std::basic_string<COM_WCHAR>> RuntimeDirectory() {
    return plat::ModuleDirectory(kRuntimeModuleName, kModuleNameCapacity);
}

/// The path loaded for an InprocServer32 value: the value appended to the
/// directory unchanged (`..`, a second drive or root included).
inline std::basic_string<COM_WCHAR> ComponentPath(std::basic_string_view<COM_WCHAR> directory,
                                                  std::basic_string_view<COM_WCHAR> file) {
    std::basic_string<COM_WCHAR> path;
    path.reserve(directory.size() + file.size());
    return path.append(directory).append(file);
}

/// Whether `path`, once its `.` and `..` parts are taken by name (links are
/// not followed), lies outside the tree of `directory` (with its trailing
/// separator). Activation loads such a path all the same; doctor shows it.
inline bool LeavesDirectoryTree(std::basic_string_view<COM_WCHAR> directory, std::basic_string_view<COM_WCHAR> path) {
    using View = std::basic_string_view<COM_WCHAR>;
    auto resolve = [](View text) {
        std::vector<View> parts;
        while (!text.empty()) {
            const size_t end = std::min(text.find(COM_WCHAR('\\')), text.find(COM_WCHAR('/')));
            const View part = text.substr(0, end);
            text = end == View::npos ? View() : text.substr(end + 1);
            if (part.empty() || part == COM_TEXT(".")) continue;
            if (part != COM_TEXT(".."))
                parts.push_back(part);
            else if (!parts.empty())
                parts.pop_back();
        }
        return parts;
    };
    const std::vector<View> tree = resolve(directory), target = resolve(path);
    return target.size() <= tree.size() || !std::equal(tree.begin(), tree.end(), target.begin());
}

} // namespace tavo::core

#endif
