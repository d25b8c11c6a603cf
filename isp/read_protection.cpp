#include "read_protection.h"

namespace isp {

Result<ReadAccess> probeReadAccess(Client& client, std::uint32_t flashBase) {
    if (auto id = client.getId(); !id) {
        return id.failure();
    }
    // A NACK is the answer; retrying it would only cost time.
    const ClientOptions saved = client.options();
    ClientOptions once = saved;
    once.read.retries = 0;
    client.setOptions(once);
    auto read = client.readMemory(flashBase, 1);
    client.setOptions(saved);
    if (read) {
        return ReadAccess::kOpen;
    }
    if (read.failure().status == Status::kRefused) {
        return ReadAccess::kReadProtected;
    }
    return read.failure();
}

}  // namespace isp
