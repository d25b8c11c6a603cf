#include "temp_files.h"

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace apptest {

TempDir::TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "chipload-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot make a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    const auto file = path_ / name;
    std::ofstream out(file, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + file.string());
    }
    return file.string();
}

std::string HexRecord(int type, int address, const std::string& data) {
    std::string record = ":";
    int sum = 0;
    auto put = [&](int byte) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", byte & 0xFF);
        record += pair;
        sum += byte & 0xFF;
    };
    put(static_cast<int>(data.size()));
    put(address >> 8);
    put(address);
    put(type);
    for (char c : data) {
        put(static_cast<unsigned char>(c));
    }
    put(-sum);
    return record;
}

}  // namespace apptest
