#include "port_listing.h"

#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "port_map.h"

namespace fs = std::filesystem;

namespace chipload::portmap {
namespace {

constexpr int kUsbDepth = 4;  // tty -> interface -> device, with room for hubs' ports

std::string firstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

// The USB device above a tty in sysfs (the folder that holds idVendor), if any.
std::string usbIdentity(const fs::path& sysTty) {
    std::error_code error;
    fs::path node = fs::canonical(sysTty / "device", error);
    for (int depth = 0; !error && depth < kUsbDepth && node.has_relative_path(); ++depth) {
        std::error_code absent;
        if (fs::is_regular_file(node / "idVendor", absent)) {
            std::string identity =
                firstLine(node / "idVendor") + ":" + firstLine(node / "idProduct");
            for (const char* text : {"manufacturer", "product"}) {
                if (const std::string value = firstLine(node / text); !value.empty()) {
                    identity += " " + value;
                }
            }
            return identity;
        }
        node = node.parent_path();
    }
    return {};
}

bool permissionDenied(const fs::path& node) {
    return access(node.c_str(), R_OK | W_OK) != 0 && errno == EACCES;
}

const char* originText(Origin origin) {
    switch (origin) {
        case Origin::commandLine:
            return "given with --com";
        case Origin::environment:
            return "from CHIPLOAD_COM";
        case Origin::detected:
            return "found on this machine";
        case Origin::none:
            break;
    }
    return "";
}

}  // namespace

std::string describeDevice(const std::string& device, const fs::path& sysClassTty) {
    if (device.starts_with("rfc2217://")) {
        return "network port (RFC 2217)";
    }
    std::error_code error;
    const fs::path node = fs::canonical(device, error);
    if (error) {
        return "not present";
    }
    std::string what;
    const std::string name = node.filename().string();
    if (node.parent_path().filename() == "pts") {
        what = "pseudo-terminal";
    } else if (const std::string usb = usbIdentity(sysClassTty / name); !usb.empty()) {
        what = "USB serial adapter " + usb;
    } else if (name.starts_with("ttyS") || name.starts_with("ttyAMA")) {
        what = "on-board serial port";
    } else {
        what = "serial device";
    }
    if (node != fs::path(device)) {
        what += " on " + node.string();
    }
    if (permissionDenied(node)) {
        what += "; you may not open it: join the dialout group or install the udev rule";
    }
    return what;
}

std::string listing() {
    std::string text;
    for (int com = kFirstCom; com <= kLastCom; ++com) {
        const Mapping mapping = lookup(com);
        if (mapping.origin == Origin::none) {
            continue;
        }
        const std::string number = std::to_string(com);
        std::string origin = originText(mapping.origin);
        if (mapping.origin == Origin::environment) {
            origin += number;
        }
        text += "COM" + number + std::string(number.size() == 1 ? "  " : " ") + mapping.device +
                "\n      " + describeDevice(mapping.device, "/sys/class/tty") + "; " + origin +
                "\n";
    }
    if (text.empty()) {
        text = "No serial ports found. Map one with --com N=DEVICE or CHIPLOAD_COMn=DEVICE.\n";
    }
    return text;
}

}  // namespace chipload::portmap
