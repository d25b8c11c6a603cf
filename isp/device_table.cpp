#include "device_table.h"

#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>

namespace isp {
namespace {

using Json = nlohmann::json;

constexpr const char* kFileName = "stm32_devices.json";

// A fault in one field of one row; load() adds the file name.
struct RowError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// "0x1FFF7A22", "64K", "1M", "512" or a JSON number.
std::uint32_t parseNumber(const Json& value, const std::string& field) {
    if (value.is_number_unsigned()) {
        const auto number = value.get<std::uint64_t>();
        if (number > std::numeric_limits<std::uint32_t>::max()) {
            throw RowError("field '" + field + "': " + std::to_string(number) + " is too large");
        }
        return static_cast<std::uint32_t>(number);
    }
    if (!value.is_string()) {
        throw RowError("field '" + field +
                       "': expected a number or a string such as \"0x08000000\" or \"64K\"");
    }
    const auto text = value.get<std::string>();
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const char* first = text.data() + (hex ? 2 : 0);
    const char* last = text.data() + text.size();
    std::uint64_t multiplier = 1;
    if (!hex && !text.empty() && (text.back() == 'K' || text.back() == 'M')) {
        multiplier = text.back() == 'K' ? 1024 : 1024 * 1024;
        --last;
    }
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(first, last, number, hex ? 16 : 10);
    if (first == last || error != std::errc{} || end != last) {
        throw RowError("field '" + field + "': '" + text + "' is not a number");
    }
    if (number > std::numeric_limits<std::uint32_t>::max() / multiplier) {
        throw RowError("field '" + field + "': '" + text + "' is too large");
    }
    return static_cast<std::uint32_t>(number * multiplier);
}

const Json& member(const Json& object, const std::string& field) {
    const auto it = object.find(field);
    if (it == object.end()) {
        throw RowError("field '" + field + "' is missing");
    }
    return *it;
}

std::uint32_t numberField(const Json& object, const std::string& field) {
    return parseNumber(member(object, field), field);
}

std::string textField(const Json& object, const std::string& field) {
    const Json& value = member(object, field);
    if (!value.is_string() || value.get<std::string>().empty()) {
        throw RowError("field '" + field + "': expected a non-empty string");
    }
    return value.get<std::string>();
}

// "4x16K,1x64K,7x128K": counts of equal units, in address order.
std::vector<std::uint32_t> parseUnits(const Json& value, const std::string& field) {
    if (!value.is_string()) {
        throw RowError("field '" + field + "': expected a string such as \"4x16K,1x64K\"");
    }
    std::vector<std::uint32_t> units;
    std::stringstream list(value.get<std::string>());
    std::string item;
    while (std::getline(list, item, ',')) {
        const auto times = item.find('x');
        if (times == std::string::npos) {
            throw RowError("field '" + field + "': '" + item + "' is not COUNTxSIZE");
        }
        const std::uint32_t count = parseNumber(Json(item.substr(0, times)), field);
        const std::uint32_t size = parseNumber(Json(item.substr(times + 1)), field);
        if (count == 0 || size == 0) {
            throw RowError("field '" + field + "': '" + item + "' holds no flash");
        }
        if (units.size() + count > (1u << 16)) {
            throw RowError("field '" + field + "': more units than a bootloader can number");
        }
        units.insert(units.end(), count, size);
    }
    if (units.empty()) {
        throw RowError("field '" + field + "' lists no units");
    }
    return units;
}

std::uint64_t bankBytes(const FlashBank& bank) {
    std::uint64_t total = 0;
    for (std::uint32_t size : bank.unitSizes) {
        total += size;
    }
    return total;
}

// The facts a row must agree with before anything relies on it.
void checkRow(const DeviceInfo& d) {
    if (d.flashSizeMax == 0) {
        throw RowError("field 'flashSize': must not be 0");
    }
    if (!std::has_single_bit(d.writeUnit) || d.writeUnit > 256) {
        throw RowError("field 'writeUnit': must be a power of two up to 256");
    }
    if (d.bootloaderRamReserved > d.ramSize) {
        throw RowError("field 'bootloaderRam': more than the RAM size");
    }
    std::uint64_t total = 0;
    std::uint64_t end = d.flashBase;
    for (const FlashBank& bank : d.banks) {
        if (bank.base < end) {
            throw RowError(
                "field 'banks': a bank starts inside the one before it or below the flash base");
        }
        for (std::uint32_t size : bank.unitSizes) {
            if (size % d.writeUnit != 0) {
                throw RowError("field 'banks': an erase unit is not a whole number of write units");
            }
        }
        end = std::uint64_t{bank.base} + bankBytes(bank);
        total += bankBytes(bank);
    }
    if (total != d.flashSizeMax) {
        throw RowError("field 'banks': units add up to " + std::to_string(total) +
                       " bytes, not the flash size " + std::to_string(d.flashSizeMax));
    }
    if (end > std::uint64_t{1} << 32) {
        throw RowError("field 'banks': flash runs past the end of the address space");
    }
}

OptionLayout parseOptionLayout(const Json& layout, std::uint32_t size) {
    OptionLayout l;
    l.rdp = numberField(layout, "rdp");
    const std::uint32_t level0 = numberField(layout, "rdpLevel0");
    if (level0 > 0xFF) {
        throw RowError("field 'rdpLevel0': expected a byte");
    }
    l.rdpLevel0 = static_cast<std::uint8_t>(level0);
    l.user = numberField(layout, "user");
    l.userBytes = numberField(layout, "userBytes");
    l.complemented = numberField(layout, "complemented") != 0;
    const std::string wrp = textField(layout, "wrp");
    if (wrp != "bits" && wrp != "area") {
        throw RowError("field 'wrp': expected bits or area, got '" + wrp + "'");
    }
    l.wrp = wrp == "bits" ? OptionLayout::Wrp::kBits : OptionLayout::Wrp::kArea;
    l.wrpOffset = numberField(layout, "wrpOffset");
    l.wrpBytes = numberField(layout, "wrpBytes");
    l.wrpGroupBytes = layout.contains("wrpGroup") ? numberField(layout, "wrpGroup") : 0;
    l.wrpBits = layout.contains("wrpBits") ? numberField(layout, "wrpBits") : 0;
    if (l.wrp == OptionLayout::Wrp::kBits && l.wrpBits > 8 * l.wrpBytes) {
        throw RowError("field 'wrpBits': more bits than 'wrpBytes' hold");
    }
    const std::uint32_t step = l.complemented ? 2 : 1;
    const std::uint64_t wrpEnd = l.wrp == OptionLayout::Wrp::kBits
                                     ? std::uint64_t{l.wrpOffset} + std::uint64_t{l.wrpBytes} * step
                                     : std::uint64_t{l.wrpOffset} + l.wrpBytes + 1;
    if (std::uint64_t{l.rdp} + 1 > size || std::uint64_t{l.user} + l.userBytes * step > size ||
        wrpEnd > size) {
        throw RowError("field 'layout': an offset lies past the option bytes");
    }
    return l;
}

DeviceInfo parseRow(const Json& row) {
    if (!row.is_object()) {
        throw RowError("expected an object");
    }
    DeviceInfo d;
    const std::uint32_t id = numberField(row, "productId");
    if (id > 0xFFF) {
        throw RowError("field 'productId': a product ID has 12 bits");
    }
    d.productId = static_cast<std::uint16_t>(id);
    d.name = textField(row, "name");
    d.family = textField(row, "family");
    d.flashBase = numberField(row, "flashBase");
    d.flashSizeMax = numberField(row, "flashSize");
    d.flashSizeAddr = numberField(row, "flashSizeAddr");
    d.uidAddr = numberField(row, "uidAddr");
    const std::string unit = textField(row, "eraseUnit");
    if (unit != "page" && unit != "sector") {
        throw RowError("field 'eraseUnit': expected \"page\" or \"sector\", got '" + unit + "'");
    }
    d.sectors = unit == "sector";
    const Json& banks = member(row, "banks");
    if (!banks.is_array() || banks.empty() || banks.size() > 2) {
        throw RowError("field 'banks': expected a list of one or two banks");
    }
    for (const Json& bank : banks) {
        if (!bank.is_object()) {
            throw RowError("field 'banks': expected objects with 'base' and 'units'");
        }
        d.banks.push_back({numberField(bank, "base"), parseUnits(member(bank, "units"), "units")});
    }
    d.writeUnit = numberField(row, "writeUnit");
    if (row.contains("erasedValue")) {
        const std::uint32_t erased = numberField(row, "erasedValue");
        if (erased != 0x00 && erased != 0xFF) {
            throw RowError("field 'erasedValue': expected \"0x00\" or \"0xFF\"");
        }
        d.erasedByte = static_cast<std::uint8_t>(erased);
    }
    d.ramSize = numberField(row, "ramSize");
    d.bootloaderRamReserved = numberField(row, "bootloaderRam");
    const Json& options = member(row, "optionBytes");
    if (!options.is_object()) {
        throw RowError("field 'optionBytes': expected an object with 'address' and 'size'");
    }
    d.optionBytesAddr = numberField(options, "address");
    d.optionBytesSize = numberField(options, "size");
    if (options.contains("layout")) {
        d.optionLayout = parseOptionLayout(member(options, "layout"), d.optionBytesSize);
    }
    const std::uint32_t erase = numberField(row, "eraseCommand");
    if (erase != static_cast<std::uint32_t>(EraseCommand::kErase) &&
        erase != static_cast<std::uint32_t>(EraseCommand::kExtendedErase)) {
        throw RowError("field 'eraseCommand': expected \"0x43\" or \"0x44\"");
    }
    d.erase = static_cast<EraseCommand>(erase);
    d.source = textField(row, "source");
    checkRow(d);
    return d;
}

std::string hex3(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%03X", value);
    return text;
}

// Where the row is, for a message: its index and, when readable, its ID.
std::string rowName(const Json& row, std::size_t index) {
    std::string name = "row " + std::to_string(index + 1);
    if (row.is_object() && row.contains("productId")) {
        try {
            name += " (" + hex3(parseNumber(row["productId"], "productId")) + ")";
        } catch (const RowError&) {
        }
    }
    return name;
}

std::string executableDir() {
    std::string path(4096, '\0');
    const ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) {
        return {};
    }
    path.resize(static_cast<std::size_t>(n));
    return path.substr(0, path.rfind('/'));
}

bool readable(const std::string& path) {
    return std::ifstream(path).good();
}

}  // namespace

std::optional<DeviceTable> DeviceTable::load(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& message) -> std::optional<DeviceTable> {
        if (error) {
            *error = path + ": " + message;
        }
        return std::nullopt;
    };
    std::ifstream in(path);
    if (!in) {
        return fail(std::string("cannot open: ") + std::strerror(errno));
    }
    Json document;
    try {
        document = Json::parse(in);
    } catch (const Json::parse_error& e) {
        return fail(std::string("not valid JSON: ") + e.what());
    }
    const auto devices = document.find("devices");
    if (!document.is_object() || devices == document.end() || !devices->is_array()) {
        return fail("expected an object with a 'devices' list");
    }
    DeviceTable table;
    std::set<std::uint16_t> seen;
    for (std::size_t i = 0; i < devices->size(); ++i) {
        const Json& row = (*devices)[i];
        try {
            DeviceInfo device = parseRow(row);
            if (!seen.insert(device.productId).second) {
                throw RowError("product ID " + hex3(device.productId) + " appears twice");
            }
            table.rows_.push_back(std::move(device));
        } catch (const RowError& e) {
            return fail(rowName(row, i) + ": " + e.what());
        }
    }
    if (table.rows_.empty()) {
        return fail("the 'devices' list is empty");
    }
    return table;
}

namespace {

struct Builtin {
    DeviceTable table;
    std::string problem;
};

Builtin loadBuiltin() {
    const std::string here = executableDir();
    std::vector<std::string> candidates;
    if (!here.empty()) {
        candidates.push_back(here + "/" + kFileName);
        candidates.push_back(here + "/../share/chipload/" + kFileName);
    }
    candidates.push_back(std::string(CHIPLOAD_DATA_DIR) + "/" + kFileName);
    std::string problem = "no usable STM32 device table:";
    bool found = false;
    for (const std::string& path : candidates) {
        if (!readable(path)) {
            continue;
        }
        found = true;
        std::string error;
        if (auto loaded = DeviceTable::load(path, &error)) {
            return {std::move(*loaded), {}};
        }
        problem += " " + error + ";";
    }
    if (!found) {
        problem += std::string(" ") + kFileName +
                   " is neither beside the program, nor in ../share/chipload, nor in " +
                   CHIPLOAD_DATA_DIR;
    }
    return {DeviceTable{}, problem};
}

const Builtin& builtinTable() {
    static const Builtin builtin = loadBuiltin();
    return builtin;
}

}  // namespace

const DeviceTable& DeviceTable::builtin() {
    return builtinTable().table;
}

const std::string& DeviceTable::builtinProblem() {
    return builtinTable().problem;
}

const DeviceInfo* DeviceTable::find(std::uint16_t productId) const {
    const auto it = std::ranges::find(rows_, productId, &DeviceInfo::productId);
    return it == rows_.end() ? nullptr : &*it;
}

std::vector<std::uint32_t> eraseUnitsFor(const DeviceInfo& device, std::uint32_t flashSize) {
    std::vector<std::uint32_t> units;
    std::uint64_t total = 0;
    for (const FlashBank& bank : device.banks) {
        for (std::uint32_t size : bank.unitSizes) {
            if (total + size > flashSize) {
                return units;
            }
            total += size;
            units.push_back(size);
        }
    }
    return units;
}

}  // namespace isp
