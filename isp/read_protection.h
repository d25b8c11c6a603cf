// Telling a read-protected chip from a wiring fault: a chip under read
// protection still answers Get ID, but refuses Read Memory of its flash.
#pragma once

#include <cstdint>

#include "client.h"

namespace isp {

enum class ReadAccess { kOpen, kReadProtected };

// Call on a synchronised session. A failure is a fault of the line (Get ID
// or the read got no sound answer), not protection.
Result<ReadAccess> probeReadAccess(Client& client, std::uint32_t flashBase);

}  // namespace isp
