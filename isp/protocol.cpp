#include "protocol.h"

namespace isp {

std::string_view commandName(Command command) {
    switch (command) {
        case Command::kGet:
            return "Get";
        case Command::kGetVersion:
            return "Get Version";
        case Command::kGetId:
            return "Get ID";
        case Command::kReadMemory:
            return "Read Memory";
        case Command::kGo:
            return "Go";
        case Command::kWriteMemory:
            return "Write Memory";
        case Command::kErase:
            return "Erase";
        case Command::kExtendedErase:
            return "Extended Erase";
        case Command::kSpecial:
            return "Special";
        case Command::kExtendedSpecial:
            return "Extended Special";
        case Command::kWriteProtect:
            return "Write Protect";
        case Command::kWriteUnprotect:
            return "Write Unprotect";
        case Command::kReadoutProtect:
            return "Readout Protect";
        case Command::kReadoutUnprotect:
            return "Readout Unprotect";
        case Command::kGetChecksum:
            return "Get Checksum";
        case Command::kSynchronize:
            return "Synchronize";
    }
    return "Unknown";
}

}  // namespace isp
