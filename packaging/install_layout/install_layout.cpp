#include "install_layout.h"

#include <system_error>

namespace fs = std::filesystem;

namespace chipload::install {

std::vector<fs::path> dataFolders() {
    std::vector<fs::path> folders;
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (!error) {
        folders.push_back(self.parent_path());
        folders.push_back((self.parent_path() / CHIPLOAD_DATA_DIR_FROM_BIN).lexically_normal());
    }
    const fs::path prefixFolder(CHIPLOAD_DATA_DIR);
    bool known = false;
    for (const auto& folder : folders) {
        known = known || folder == prefixFolder;
    }
    if (!known) {
        folders.push_back(prefixFolder);
    }
    return folders;
}

std::string findDataFile(const std::string& name, std::string& tried) {
    tried.clear();
    for (const auto& folder : dataFolders()) {
        const fs::path candidate = folder / name;
        std::error_code error;
        if (fs::is_regular_file(candidate, error)) {
            return candidate.string();
        }
        tried += (tried.empty() ? "" : ", ") + candidate.string();
    }
    return {};
}

}  // namespace chipload::install
