#pragma once
// Windows paths as text: which of a path's folders may be created. Plain string logic, so that
// it is tested on every platform.

#include <string>
#include <string_view>
#include <vector>

namespace varnok {

// The folders to create, outermost first, for `dir` to exist: each prefix of `dir` that ends
// before a separator (\ or /) or at its end, past its root. The root is never created: a drive
// ("C:"), the server and share of a network path ("\\server\share"), or the first part after
// "\\?\" or "\\.\" ("\\?\C:", "\\?\UNC\server\share", "\\?\Volume{…}").
std::vector<std::string> folders_to_create(std::string_view dir);

}  // namespace varnok
