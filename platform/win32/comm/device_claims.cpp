#include "comm/device_claims.h"

#include <mutex>
#include <set>

namespace chipload::win32::comm {
namespace {

struct Claims {
    std::mutex mutex;
    std::set<std::string> names;
};

Claims& claims() {
    static auto* instance = new Claims;  // devices may close while the process exits
    return *instance;
}

}  // namespace

bool claimDevice(const std::string& name) {
    auto& c = claims();
    std::lock_guard lock(c.mutex);
    return c.names.insert(name).second;
}

void releaseDevice(const std::string& name) {
    auto& c = claims();
    std::lock_guard lock(c.mutex);
    c.names.erase(name);
}

}  // namespace chipload::win32::comm
