// A temporary folder for files a test writes, removed with its contents.
#pragma once

#include <filesystem>
#include <string>

namespace apptest {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes bytes to name in the folder; returns the file's full path.
    std::string write(const std::string& name, const std::string& bytes) const;

  private:
    std::filesystem::path path_;
};

// One Intel HEX record (":LLAAAATT<data>CC") without a line end.
std::string HexRecord(int type, int address, const std::string& data);

}  // namespace apptest
