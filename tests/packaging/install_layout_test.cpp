// Where the program looks for its data files: beside itself, then in the data
// folder next to its bin folder, then in the one of the prefix it was built for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "install_layout.h"

namespace fs = std::filesystem;

namespace {

fs::path ExecutableFolder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

class DataFiles : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& file : written) {
            fs::remove(file);
        }
        if (createdShare) {
            fs::remove_all(ExecutableFolder().parent_path() / "share");
        }
    }
    fs::path write(const fs::path& folder) {
        if (!fs::exists(folder.parent_path())) {
            createdShare = true;
        }
        fs::create_directories(folder);
        written.push_back(folder / name);
        std::ofstream(written.back()) << "data\n";
        return written.back();
    }

    const std::string name = "layout-test-" + std::to_string(getpid()) + ".json";
    const fs::path relocated = (ExecutableFolder() / "../share/chipload").lexically_normal();
    std::vector<fs::path> written;
    bool createdShare = false;
};

TEST_F(DataFiles, FoldersAreSearchedBesideTheProgramThenRelativeThenUnderThePrefix) {
    const auto folders = chipload::install::dataFolders();
    const std::vector<fs::path> expected = {ExecutableFolder(), relocated,
                                            fs::path(CHIPLOAD_BUILT_FOR_DATA_DIR)};
    EXPECT_EQ(folders, expected);
}

TEST_F(DataFiles, TheFirstFolderHoldingTheFileWins) {
    std::string tried;
    EXPECT_EQ(chipload::install::findDataFile(name, tried), "");
    EXPECT_EQ(tried, (ExecutableFolder() / name).string() + ", " + (relocated / name).string() +
                         ", " + (fs::path(CHIPLOAD_BUILT_FOR_DATA_DIR) / name).string());

    const fs::path installed = write(relocated);
    EXPECT_EQ(chipload::install::findDataFile(name, tried), installed.string());
    EXPECT_EQ(tried, (ExecutableFolder() / name).string());

    const fs::path beside = write(ExecutableFolder());
    EXPECT_EQ(chipload::install::findDataFile(name, tried), beside.string());
    EXPECT_EQ(tried, "");
}

}  // namespace
