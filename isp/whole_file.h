// Writing an output file (a read-back) so that a failed write never leaves
// half a file under the asked-for name.
#pragma once

#include <string>

namespace isp {

// Written beside `path` as `path`.part and renamed over it; false (and no
// file left behind) when either step fails.
bool writeWholeFile(const std::string& path, const std::string& content);

}  // namespace isp
