#include "bootloader.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>

namespace stm32sim {
namespace {

enum Command : std::uint8_t {
    get = 0x00,
    get_version = 0x01,
    get_id = 0x02,
    read_memory = 0x11,
    go = 0x21,
    write_memory = 0x31,
    erase = 0x43,
    extended_erase = 0x44,
    write_protect = 0x63,
    write_unprotect = 0x73,
    readout_protect = 0x82,
    readout_unprotect = 0x92,
};

// The Get reply: protocol 2.2 (F1) offers Erase, 3.x Extended Erase in its
// place; the two are never offered together.
constexpr std::array<std::uint8_t, 11> supported{
    get,           get_version,     get_id,          read_memory,      go, write_memory, erase,
    write_protect, write_unprotect, readout_protect, readout_unprotect};

// Extended Erase codes in place of a page count.
constexpr std::uint16_t erase_mass = 0xFFFF;
constexpr std::uint16_t erase_bank1 = 0xFFFE;
constexpr std::uint16_t erase_bank2 = 0xFFFD;
constexpr std::uint16_t first_special = 0xFFF0;  // 0xFFF0..0xFFFC are reserved

std::uint8_t xor_of(std::span<const std::uint8_t> bytes) {
    return std::accumulate(
        bytes.begin(), bytes.end(), std::uint8_t{0},
        [](std::uint8_t a, std::uint8_t b) { return static_cast<std::uint8_t>(a ^ b); });
}

std::string hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

bool command_has_step(std::uint8_t command, RefusedStep::Step step) {
    using Step = RefusedStep::Step;
    switch (command) {
        case sync_byte:
        case get:
        case get_version:
        case get_id:
        case write_unprotect:
        case readout_protect:
        case readout_unprotect:
            return step == Step::command;
        case read_memory:
            return step != Step::data;
        case go:
            return step == Step::command || step == Step::address;
        case write_memory:
            return step != Step::length;
        case erase:
        case extended_erase:
        case write_protect:
            return step == Step::command || step == Step::data;
        default:
            return false;
    }
}

std::string command_name(std::uint8_t command) {
    switch (command) {
        case get:
            return "Get";
        case get_version:
            return "Get Version";
        case get_id:
            return "Get ID";
        case read_memory:
            return "Read Memory";
        case go:
            return "Go";
        case write_memory:
            return "Write Memory";
        case erase:
            return "Erase";
        case extended_erase:
            return "Extended Erase";
        case write_protect:
            return "Write Protect";
        case write_unprotect:
            return "Write Unprotect";
        case readout_protect:
            return "Readout Protect";
        case readout_unprotect:
            return "Readout Unprotect";
        case sync_byte:
            return "Synchronisation";
        default:
            break;
    }
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", command);
    return text;
}

Bootloader::Bootloader(Memory& memory, FaultInjector& faults,
                       std::optional<std::uint8_t> erase_command)
    : memory_(memory), faults_(faults), erase_command_(erase_command) {}

std::uint8_t Bootloader::erase_command() const {
    if (erase_command_) {
        return *erase_command_;
    }
    return memory_.product().family->extended_erase() ? extended_erase : erase;
}

void Bootloader::restart() {
    state_ = State::wait_sync;
    buffer_.clear();
    need_ = 0;
}

std::vector<Reply> Bootloader::feed(std::uint8_t byte) {
    switch (state_) {
        case State::wait_sync: {
            if (byte != sync_byte) {
                return {};  // line noise before the autobaud byte is not answered
            }
            command_ = sync_byte;
            address_ = 0;
            length_.reset();
            has_address_ = false;
            faults_.command_taken(sync_byte);
            if (faults_.refuse_step(RefusedStep::Step::command)) {
                auto replies = refuse("refused (fault)");
                state_ = State::wait_sync;
                return replies;
            }
            std::vector<Reply> replies;
            if (accept(replies, State::wait_command, 0)) {
                replies.back().record = finish({}, true, "").record;
            } else {
                state_ = State::wait_sync;
            }
            return replies;
        }
        case State::wait_command:
            command_ = byte;
            state_ = State::wait_complement;
            return {};
        case State::wait_complement:
            state_ = State::wait_command;
            has_address_ = false;
            length_.reset();
            if (byte != static_cast<std::uint8_t>(command_ ^ 0xFF)) {
                return refuse("bad complement");
            }
            faults_.command_taken(command_);
            return on_command();
        default:
            break;
    }
    buffer_.push_back(byte);
    if (buffer_.size() == 1 && (state_ == State::write_data || state_ == State::erase_pages ||
                                state_ == State::protect_sectors)) {
        need_ = std::size_t{byte} + 3;  // N, N+1 items, checksum
    }
    if (state_ == State::erase_count) {
        if (byte == 0xFF) {
            expect(State::erase_global_checksum, 1);
        } else {
            state_ = State::erase_pages;
            need_ = std::size_t{byte} + 3;
        }
        return {};
    }
    if (state_ == State::protect_count) {
        state_ = State::protect_sectors;
        need_ = std::size_t{byte} + 3;
        return {};
    }
    if (buffer_.size() < need_) {
        return {};
    }
    // The stage is complete: unless a handler asks for more, the next byte
    // is a command.
    const State complete = state_;
    state_ = State::wait_command;
    switch (complete) {
        case State::address:
            return on_address();
        case State::read_length:
            return on_read_length();
        case State::write_data:
            return on_write_data();
        case State::erase_global_checksum:
            return on_global_erase();
        case State::erase_pages:
            return on_page_erase();
        case State::extended_count:
            return on_extended_count();
        case State::extended_checksum:
            return on_special_erase();
        case State::extended_pages:
            return on_extended_erase();
        case State::protect_sectors:
            return on_protect();
        default:
            return {};
    }
}

std::vector<Reply> Bootloader::on_command() {
    if (faults_.reset_now()) {
        Reply reply = finish({}, false, "spontaneous reset (fault)");
        reply.then = Reply::Then::reset;
        return {reply};
    }
    if (faults_.refuse_command(command_) || faults_.refuse_step(RefusedStep::Step::command)) {
        return refuse("refused (fault)");
    }
    const bool protected_chip = memory_.readout_protected();
    std::vector<Reply> replies;
    switch (command_) {
        case get: {
            if (faults_.refuse_reply()) {
                return refuse("refused (fault)");
            }
            std::vector<std::uint8_t> listed;
            for (const std::uint8_t code : supported) {
                if (code != erase) {
                    listed.push_back(code);
                } else if (erase_command() != 0) {
                    listed.push_back(erase_command());
                }
            }
            std::vector<std::uint8_t> bytes{ack, static_cast<std::uint8_t>(listed.size()),
                                            version()};
            bytes.insert(bytes.end(), listed.begin(), listed.end());
            bytes.push_back(ack);
            return {finish(bytes, true, "")};
        }
        case get_version:
            if (faults_.refuse_reply()) {
                return refuse("refused (fault)");
            }
            // Two option bytes of 0 keep compatibility with the generic protocol.
            return {finish({ack, version(), 0x00, 0x00, ack}, true, "")};
        case get_id: {
            if (faults_.refuse_reply()) {
                return refuse("refused (fault)");
            }
            const std::uint16_t pid = memory_.product().pid;
            return {finish({ack, 0x01, static_cast<std::uint8_t>(pid >> 8),
                            static_cast<std::uint8_t>(pid & 0xFF), ack},
                           true, "")};
        }
        case read_memory:
        case go:
        case write_memory:
            if (protected_chip) {
                return refuse("readout protected");
            }
            accept(replies, State::address, 5);
            return replies;
        case erase:
        case extended_erase:
            // Each bootloader knows only the erase command of its version.
            if (command_ != erase_command()) {
                return refuse("unknown command");
            }
            if (protected_chip) {
                return refuse("readout protected");
            }
            if (command_ == erase) {
                accept(replies, State::erase_count, 1);
            } else {
                accept(replies, State::extended_count, 2);
            }
            return replies;
        case write_protect:
            if (protected_chip) {
                return refuse("readout protected");
            }
            accept(replies, State::protect_count, 1);
            return replies;
        case write_unprotect:
        case readout_protect: {
            if (protected_chip) {
                return refuse("readout protected");
            }
            if (!accept(replies, State::wait_command, 0)) {
                return replies;
            }
            if (command_ == write_unprotect) {
                memory_.unprotect_all();
            } else {
                memory_.set_readout_protection(true);
            }
            Reply done = finish({ack}, true, "option bytes written, reset");
            done.busy = memory_.product().family->erase_times.front().time;
            done.then = Reply::Then::reset;
            replies.push_back(done);
            return replies;
        }
        case readout_unprotect: {
            if (!accept(replies, State::wait_command, 0)) {
                return replies;
            }
            memory_.erase_all();
            memory_.set_readout_protection(false);
            // Families that keep their option bytes in a complemented block
            // change them by erasing the block and programming it again, so
            // lifting read protection also lifts write protection there.
            // Those programmed through an option register (F2/F4, G0/L4)
            // rewrite the level and keep the write-protection bits.
            if (memory_.product().family->options->complemented) {
                memory_.unprotect_all();
            }
            Reply done = finish({ack}, true, "flash erased, protection removed, reset");
            done.busy = memory_.product().family->mass_erase_time;
            done.then = Reply::Then::reset;
            replies.push_back(done);
            return replies;
        }
        default:
            return refuse("unknown command");
    }
}

std::vector<Reply> Bootloader::on_address() {
    address_ = address();
    has_address_ = true;
    if (buffer_[4] != xor_of(std::span(buffer_).first(4))) {
        return refuse("bad address checksum");
    }
    const Area area = memory_.area_of(address_, 1);
    if (faults_.refuse_step(RefusedStep::Step::address)) {
        return refuse("refused (fault)");
    }
    std::vector<Reply> replies;
    switch (command_) {
        case read_memory:
            if (area == Area::none) {
                return refuse("address not readable");
            }
            accept(replies, State::read_length, 2);
            return replies;
        case go: {
            if (area != Area::flash && area != Area::ram) {
                return refuse("address not executable");
            }
            if (!accept(replies, State::wait_command, 0)) {
                return replies;
            }
            replies.back().record = finish({}, true, "jump").record;
            replies.back().then = Reply::Then::run;
            replies.back().run_address = address_;
            return replies;
        }
        default: {
            // Option bytes are written as a whole block, from its start.
            const Family& family = *memory_.product().family;
            const bool writable =
                (area == Area::flash && address_ % family.write_unit == 0) ||
                (area == Area::option_bytes && address_ == family.option_bytes_address) ||
                (area == Area::ram && address_ >= ram_base + family.bootloader_ram_bytes);
            if (!writable) {
                return refuse("address not writable");
            }
            accept(replies, State::write_data, 1);
            return replies;
        }
    }
}

std::vector<Reply> Bootloader::on_read_length() {
    const std::uint8_t n = buffer_[0];
    if (buffer_[1] != static_cast<std::uint8_t>(n ^ 0xFF)) {
        return refuse("bad length checksum");
    }
    length_ = std::uint32_t{n} + 1;
    auto data = memory_.read(address_, *length_);
    if (!data) {
        return refuse("range not readable");
    }
    if (faults_.refuse_step(RefusedStep::Step::length) || faults_.refuse_reply()) {
        return refuse("refused (fault)");
    }
    std::vector<std::uint8_t> bytes{ack};
    bytes.insert(bytes.end(), data->begin(), data->end());
    return {finish(bytes, true, "")};
}

std::vector<Reply> Bootloader::on_write_data() {
    const std::uint32_t length = std::uint32_t{buffer_[0]} + 1;
    length_ = length;
    if (buffer_.back() != xor_of(std::span(buffer_).first(length + 1))) {
        return refuse("bad data checksum");
    }
    const auto data = std::span(buffer_).subspan(1, length);
    const Area area = memory_.area_of(address_, length);
    if (area == Area::none || area != memory_.area_of(address_, 1)) {
        return refuse("range not writable");
    }
    if (faults_.refuse_step(RefusedStep::Step::data) || faults_.refuse_reply()) {
        return refuse("refused (fault)");
    }
    if (area == Area::ram) {
        memory_.write_ram(address_, data);
        return {finish({ack}, true, "")};
    }
    if (area == Area::option_bytes) {
        const Family& family = *memory_.product().family;
        memory_.write_option_bytes(address_ - family.option_bytes_address, data);
        Reply reply = finish({ack}, true, "option bytes written, reset");
        reply.busy = family.erase_times.front().time;
        reply.then = Reply::Then::reset;
        return {reply};
    }
    // Programmed in words (or the family's larger write unit) from the start
    // address: a trailing part is dropped without a word of warning, as on
    // the real chip.
    const Family& family = *memory_.product().family;
    const std::uint32_t granule = std::max<std::uint32_t>(4, family.write_unit);
    const std::uint32_t whole_words = length - length % granule;
    const auto result = memory_.program_flash(address_, data.first(whole_words));
    if (const auto bad = faults_.corrupt_programmed_byte();
        bad && *bad >= address_ && *bad - address_ < whole_words) {
        const std::uint32_t offset = *bad - flash_base;
        const auto kept = memory_.read(*bad, 1);
        if (kept) {
            const std::uint8_t flipped = static_cast<std::uint8_t>((*kept)[0] ^ 0x01);
            memory_.load_flash(offset, std::span(&flipped, 1));
        }
    }
    const Duration busy = family.program_time * result.units_programmed;
    // Write-protected sectors are skipped without an error, as AN3155 warns.
    std::string detail = whole_words < length ? "last partial word not programmed" : "";
    if (result.hit_protected_page) {
        detail += std::string(detail.empty() ? "" : ", ") + "protected sectors kept";
    }
    Reply reply = finish({ack}, true, detail);
    reply.busy = busy;
    return {reply};
}

std::vector<Reply> Bootloader::on_global_erase() {
    length_ = static_cast<std::uint32_t>(memory_.units().size());
    if (buffer_[0] != 0x00) {
        return refuse("bad mass erase checksum");
    }
    if (faults_.refuse_step(RefusedStep::Step::data) || faults_.refuse_reply()) {
        return refuse("refused (fault)");
    }
    // As with writes, protected sectors are skipped without an error.
    const bool all = memory_.mass_erase();
    Reply reply = finish({ack}, true, all ? "mass erase" : "mass erase, protected sectors kept");
    reply.busy = memory_.product().family->mass_erase_time;
    return {reply};
}

std::vector<Reply> Bootloader::on_page_erase() {
    const std::size_t count = std::size_t{buffer_[0]} + 1;
    const auto pages = std::span(buffer_).subspan(1, count);
    length_ = static_cast<std::uint32_t>(count);
    address_ = flash_base + pages[0] * memory_.product().page_bytes;
    has_address_ = true;
    if (buffer_.back() != xor_of(std::span(buffer_).first(count + 1))) {
        return refuse("bad page list checksum");
    }
    for (std::uint8_t page : pages) {
        if (page >= memory_.product().page_count()) {
            return refuse("page out of range");
        }
    }
    if (faults_.refuse_step(RefusedStep::Step::data) || faults_.refuse_reply()) {
        return refuse("refused (fault)");
    }
    std::uint32_t erased = 0;
    bool blocked = false;
    for (std::uint8_t page : pages) {
        if (memory_.erase_page(page)) {
            ++erased;
        } else {
            blocked = true;
        }
    }
    Reply reply = finish({ack}, true, blocked ? "protected pages kept" : "");
    reply.busy = memory_.product().family->erase_time(memory_.product().page_bytes) * erased;
    return {reply};
}

// N (two bytes, most significant first), then either a special code's
// checksum or N+1 page numbers and the XOR of everything after the command.
std::vector<Reply> Bootloader::on_extended_count() {
    const auto n = static_cast<std::uint16_t>(buffer_[0] << 8 | buffer_[1]);
    state_ = n >= first_special ? State::extended_checksum : State::extended_pages;
    need_ = n >= first_special ? 3 : 2 + 2 * (std::size_t{n} + 1) + 1;
    return {};
}

std::vector<Reply> Bootloader::on_special_erase() {
    const auto code = static_cast<std::uint16_t>(buffer_[0] << 8 | buffer_[1]);
    if (buffer_[2] != (buffer_[0] ^ buffer_[1])) {
        return refuse("bad erase code checksum");
    }
    const bool dual = memory_.product().banks == 2;
    if (code != erase_mass && !((code == erase_bank1 || code == erase_bank2) && dual)) {
        return refuse(code == erase_bank1 || code == erase_bank2 ? "no second bank"
                                                                 : "reserved erase code");
    }
    if (faults_.refuse_step(RefusedStep::Step::data) || faults_.refuse_reply()) {
        return refuse("refused (fault)");
    }
    const std::uint32_t bank = code == erase_bank2 ? 1 : 0;
    std::uint32_t units = 0;
    for (const Memory::Unit& unit : memory_.units()) {
        units += code == erase_mass || unit.bank == bank ? 1 : 0;
    }
    length_ = units;
    address_ = flash_base + (code == erase_bank2 ? memory_.product().flash_bytes / 2 : 0);
    has_address_ = true;
    const bool all = code == erase_mass ? memory_.mass_erase() : memory_.erase_bank(bank);
    const std::string what = code == erase_mass ? "mass erase"
                             : bank == 0        ? "bank 1 erase"
                                                : "bank 2 erase";
    Reply reply = finish({ack}, true, all ? what : what + ", protected sectors kept");
    reply.busy = memory_.product().family->mass_erase_time;
    return {reply};
}

std::vector<Reply> Bootloader::on_extended_erase() {
    const std::size_t count = (need_ - 3) / 2;
    length_ = static_cast<std::uint32_t>(count);
    if (buffer_.back() != xor_of(std::span(buffer_).first(buffer_.size() - 1))) {
        return refuse("bad page list checksum");
    }
    std::vector<std::uint32_t> pages;
    for (std::size_t i = 0; i < count; ++i) {
        pages.push_back(std::uint32_t{buffer_[2 + 2 * i]} << 8 | buffer_[3 + 2 * i]);
    }
    const auto& units = memory_.units();
    if (std::ranges::any_of(pages, [&](std::uint32_t page) { return page >= units.size(); })) {
        return refuse("page out of range");
    }
    address_ = flash_base + units[pages[0]].offset;
    has_address_ = true;
    if (faults_.refuse_step(RefusedStep::Step::data) || faults_.refuse_reply()) {
        return refuse("refused (fault)");
    }
    std::vector<std::uint32_t> erased;
    for (std::uint32_t page : pages) {
        if (memory_.erase_page(page)) {
            erased.push_back(units[page].bytes);
        }
    }
    Reply reply = finish({ack}, true, erased.size() < pages.size() ? "protected pages kept" : "");
    reply.busy = erase_time(erased);
    return {reply};
}

std::vector<Reply> Bootloader::on_protect() {
    const std::size_t count = std::size_t{buffer_[0]} + 1;
    const auto sectors = std::span(buffer_).subspan(1, count);
    length_ = static_cast<std::uint32_t>(count);
    if (buffer_.back() != xor_of(std::span(buffer_).first(count + 1))) {
        return refuse("bad sector list checksum");
    }
    std::vector<std::uint32_t> groups;
    for (std::uint8_t sector : sectors) {
        if (sector >= memory_.group_count()) {
            return refuse("sector out of range");
        }
        groups.push_back(sector);
    }
    if (faults_.refuse_step(RefusedStep::Step::data) || faults_.refuse_reply()) {
        return refuse("refused (fault)");
    }
    memory_.protect_groups(groups);
    Reply reply = finish({ack}, true, "option bytes written, reset");
    reply.busy = page_erase_time;
    reply.then = Reply::Then::reset;
    return {reply};
}

bool Bootloader::accept(std::vector<Reply>& replies, State next, std::size_t need) {
    if (faults_.refuse_reply()) {
        auto refused = refuse("refused (fault)");
        replies.insert(replies.end(), refused.begin(), refused.end());
        return false;
    }
    Reply accepted;
    accepted.bytes = {ack};
    replies.push_back(std::move(accepted));
    expect(next, need);
    return true;
}

std::vector<Reply> Bootloader::refuse(const std::string& why) {
    state_ = State::wait_command;
    buffer_.clear();
    return {finish({nack}, false, why)};
}

Reply Bootloader::finish(std::vector<std::uint8_t> bytes, bool acknowledged,
                         const std::string& detail) {
    CommandRecord record;
    record.command = command_;
    record.address = has_address_ ? std::optional(address_) : std::nullopt;
    record.length = length_;
    record.acknowledged = acknowledged;
    record.text = command_name(command_);
    if (record.address) {
        record.text += " " + hex32(*record.address);
    }
    if (record.length) {
        const bool sector_erase = command_ == extended_erase && !memory_.product().uniform_pages();
        record.text += " " + std::to_string(*record.length) +
                       (sector_erase                                      ? " sectors"
                        : command_ == erase || command_ == extended_erase ? " pages"
                        : command_ == write_protect                       ? " sectors"
                                                                          : " bytes");
    }
    record.text += acknowledged ? ": ACK" : ": NACK";
    if (!detail.empty()) {
        record.text += " (" + detail + ")";
    }
    Reply reply;
    reply.bytes = std::move(bytes);
    reply.record = std::move(record);
    return reply;
}

void Bootloader::expect(State state, std::size_t bytes) {
    state_ = state;
    need_ = bytes;
    buffer_.clear();
}

Duration Bootloader::erase_time(std::span<const std::uint32_t> units) const {
    Duration total{};
    for (std::uint32_t bytes : units) {
        total += memory_.product().family->erase_time(bytes);
    }
    return total;
}

std::uint32_t Bootloader::address() const {
    return std::uint32_t{buffer_[0]} << 24 | std::uint32_t{buffer_[1]} << 16 |
           std::uint32_t{buffer_[2]} << 8 | std::uint32_t{buffer_[3]};
}

}  // namespace stm32sim
