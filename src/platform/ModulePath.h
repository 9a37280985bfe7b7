#pragma once
#include <optional>
#include <string>

namespace platform {

// Full path of the running executable, or nothing when Windows cannot give it
// whole within MAX_PATH characters: a cut path names some other file, so no
// caller may use it.
std::optional<std::wstring> ModulePath();

// The folder of a path: everything before its last backslash or slash, or
// nothing when the path has neither.
std::optional<std::wstring> ParentFolder(const std::wstring& path);

}  // namespace platform
