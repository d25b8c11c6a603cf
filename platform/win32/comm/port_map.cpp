#include "port_map.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <set>

#include "comm/port_defaults.h"

namespace fs = std::filesystem;

namespace chipload::portmap {
namespace {

struct Assignments {
    std::mutex mutex;
    std::map<int, std::string> devices;
};

Assignments& assignments() {
    static Assignments instance;
    return instance;
}

bool validCom(int com) {
    return com >= kFirstCom && com <= kLastCom;
}

// Sorts ttyUSB10 after ttyUSB9.
bool naturalLess(const std::string& a, const std::string& b) {
    const auto digits = [](const std::string& s) {
        return s.size() - (s.find_last_not_of("0123456789") + 1);
    };
    const std::size_t da = digits(a);
    const std::size_t db = digits(b);
    const std::string pa = a.substr(0, a.size() - da);
    const std::string pb = b.substr(0, b.size() - db);
    if (pa != pb) {
        return pa < pb;
    }
    if (da != db) {
        return da < db;
    }
    return a < b;
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(dir, error)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end(), naturalLess);
    return names;
}

bool hasUartChip(const fs::path& sysClassTty, const std::string& name) {
    std::ifstream type(sysClassTty / name / "type");
    int value = 0;
    return type >> value && value != 0;
}

}  // namespace

std::vector<std::string> defaultDevices(const fs::path& devRoot, const fs::path& sysClassTty) {
    std::vector<std::string> devices;
    std::set<fs::path> covered;
    const fs::path byId = devRoot / "serial" / "by-id";
    for (const auto& name : namesIn(byId)) {
        std::error_code error;
        covered.insert(fs::canonical(byId / name, error));
        devices.push_back((byId / name).string());
    }
    const std::vector<std::string> names = namesIn(devRoot);
    for (const auto& name : names) {
        if (!name.starts_with("ttyUSB") && !name.starts_with("ttyACM")) {
            continue;
        }
        std::error_code error;
        if (!covered.contains(fs::canonical(devRoot / name, error))) {
            devices.push_back((devRoot / name).string());
        }
    }
    for (const auto& name : names) {
        if ((name.starts_with("ttyS") || name.starts_with("ttyAMA")) &&
            hasUartChip(sysClassTty, name)) {
            devices.push_back((devRoot / name).string());
        }
    }
    return devices;
}

bool assign(int com, const std::string& device) {
    if (!validCom(com) || device.empty()) {
        return false;
    }
    auto& a = assignments();
    std::lock_guard lock(a.mutex);
    a.devices[com] = device;
    return true;
}

Mapping lookup(int com) {
    if (!validCom(com)) {
        return {};
    }
    {
        auto& a = assignments();
        std::lock_guard lock(a.mutex);
        if (auto it = a.devices.find(com); it != a.devices.end()) {
            return {it->second, Origin::commandLine};
        }
    }
    const std::string variable = "CHIPLOAD_COM" + std::to_string(com);
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0') {
        return {value, Origin::environment};
    }
    const auto devices = defaultDevices("/dev", "/sys/class/tty");
    const auto index = static_cast<std::size_t>(com - kFirstCom);
    if (index < devices.size()) {
        return {devices[index], Origin::detected};
    }
    return {};
}

std::string resolve(int com) {
    return lookup(com).device;
}

void clearAssignments() {
    auto& a = assignments();
    std::lock_guard lock(a.mutex);
    a.devices.clear();
}

}  // namespace chipload::portmap
