#include "stm32sim/target.hpp"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <mutex>

#include "bootloader.hpp"
#include "fault_injector.hpp"
#include "memory.hpp"

namespace stm32sim {
namespace {

constexpr Duration greeting_period = std::chrono::seconds(1);
// Shorter than any read interval a host uses to end a reply.
constexpr Duration output_batch = std::chrono::milliseconds(1);
// A running firmware's output is queued for the line this many bytes ahead,
// so that a reset throws away little and the firmware keeps pace with it.
constexpr std::uint64_t firmware_lead_bytes = 32;
constexpr std::size_t firmware_chunk_bytes = 256;

std::array<std::uint8_t, 12> make_unique_id(std::uint64_t seed) {
    std::array<std::uint8_t, 12> id{};
    for (std::size_t i = 0; i < id.size(); ++i) {
        id[i] = static_cast<std::uint8_t>(seeded_value(seed, 1 + i / 8) >> (8 * (i % 8)));
    }
    return id;
}

std::uint32_t le32(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} | std::uint32_t{bytes[at + 1]} << 8 |
           std::uint32_t{bytes[at + 2]} << 16 | std::uint32_t{bytes[at + 3]} << 24;
}

}  // namespace

struct Target::State {
    explicit State(TargetConfig c)
        : config(std::move(c)),
          line(config.line),
          unique_id(make_unique_id(config.seed)),
          faults(config.faults, config.seed),
          memory(config.product, unique_id),
          bootloader(memory, faults, c.erase_command) {
        memory.set_readout_protection(config.read_protected);
        memory.protect_groups(config.write_protected_groups);
    }

    // Everything below runs with the mutex held.
    Duration byte_time(std::uint64_t count) const {
        return config.timing == Timing::real ? line.time_for_bytes(count) : Duration::zero();
    }
    bool boot0_high() const {
        switch (config.boot0) {
            case Boot0Polarity::rts_asserted:
                return rts;
            case Boot0Polarity::rts_deasserted:
                return !rts;
            case Boot0Polarity::tied_high:
                break;
        }
        return true;
    }
    void boot(TimePoint at);
    void stop_transmitting(TimePoint now);
    void start_application(TimePoint at, std::uint32_t vector_table);
    // Hands the flash to the launcher; false when it cannot run this product.
    bool launch_firmware();
    void pump_firmware(TimePoint now);
    bool vector_table_plausible() const;
    void schedule(const Reply& reply, TimePoint at);
    void put(std::span<const std::uint8_t> bytes, TimePoint start);
    void pump_greeting(TimePoint now);
    void on_byte(std::uint8_t byte, TimePoint at);
    void log(const std::string& text) const {
        if (config.log) {
            config.log(text);
        }
    }
    // Without the main mutex: a firmware's thread wakes the transport too.
    void notify_listener() {
        std::lock_guard lock(listener_mutex);
        if (listener) {
            listener();
        }
    }

    mutable std::mutex mutex;
    TargetConfig config;
    LineSettings line;
    std::array<std::uint8_t, 12> unique_id;
    FaultInjector faults;
    Memory memory;
    Bootloader bootloader;
    Mode mode = Mode::bootloader;
    bool dtr = false;
    bool rts = false;
    std::uint32_t application_vectors = flash_base;
    TimePoint next_greeting{};
    std::deque<std::pair<TimePoint, std::uint8_t>> pending;
    TimePoint transmitter_free{};
    TimePoint receiver_free{};
    TimePoint last_activity{};
    TimePoint last_output{};  // when output last left
    std::uint64_t resets = 0;
    std::uint64_t bytes_sent = 0;
    bool dropped = false;
    std::vector<CommandRecord> records;
    bool emulated = false;         // the launcher took this run: no fixed greeting
    bool firmware_parked = false;  // stopped when the host left; runs again for the next
    std::mutex listener_mutex;
    std::function<void()> listener;
    std::unique_ptr<RunningFirmware> firmware;  // last: its thread calls the listener
};

void Target::State::boot(TimePoint at) {
    ++resets;
    firmware.reset();
    bootloader.restart();
    if (config.faults.stray_byte_after_reset) {
        const std::uint8_t stray = *config.faults.stray_byte_after_reset;
        put(std::span(&stray, 1), std::max(at, transmitter_free));
    }
    if (boot0_high()) {
        mode = Mode::bootloader;
        log("reset: BOOT0 high, bootloader waits for 0x7F");
    } else {
        log("reset: BOOT0 low, boot from flash");
        start_application(at, flash_base);
    }
}

void Target::State::stop_transmitting(TimePoint now) {
    pending.clear();
    transmitter_free = now;
}

void Target::State::start_application(TimePoint at, std::uint32_t vector_table) {
    mode = Mode::application;
    application_vectors = vector_table;
    next_greeting = at;
    firmware.reset();
    emulated = false;
    firmware_parked = false;
    if (config.run_firmware && vector_table_plausible() && launch_firmware()) {
        return;
    }
    char text[96];
    std::snprintf(
        text, sizeof text, "application at 0x%08X: %s", vector_table,
        vector_table_plausible() ? "vector table found, greeting" : "no vector table, silent");
    log(text);
}

// Initial stack pointer inside RAM (its end included) and a Thumb reset
// vector inside flash or RAM: what a linked program's table looks like.
bool Target::State::vector_table_plausible() const {
    const auto table = memory.read(application_vectors, 8);
    if (!table) {
        return false;
    }
    const std::uint32_t sp = le32(*table, 0);
    const std::uint32_t pc = le32(*table, 4);
    const bool stack_ok = sp >= ram_base && sp <= ram_base + config.product.ram_bytes;
    const Area code = memory.area_of(pc & ~1u, 2);
    return stack_ok && (pc & 1u) != 0 && (code == Area::flash || code == Area::ram);
}

bool Target::State::launch_firmware() {
    try {
        firmware = config.run_firmware(FirmwareStart{
            .product = config.product,
            .flash = memory.flash(),
            .ram = memory.ram(),
            .vector_table = application_vectors,
            .output_ready = [this] { notify_listener(); },
            .log = config.log,
        });
    } catch (const std::exception& error) {
        log(std::string("firmware not started: ") + error.what());
        emulated = true;
        return true;
    }
    emulated = firmware != nullptr;
    return emulated;
}

void Target::State::pump_firmware(TimePoint now) {
    if (!firmware || mode != Mode::application) {
        return;
    }
    if (transmitter_free <= now + byte_time(firmware_lead_bytes)) {
        const auto bytes = firmware->take(firmware_chunk_bytes);
        put(bytes, std::max(now, transmitter_free));
    }
}

void Target::State::put(std::span<const std::uint8_t> bytes, TimePoint start) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        pending.emplace_back(start + byte_time(i + 1), bytes[i]);
    }
    if (!bytes.empty()) {
        transmitter_free = pending.back().first;
        last_activity = std::max(last_activity, transmitter_free);
    }
}

void Target::State::schedule(const Reply& reply, TimePoint at) {
    const Duration busy = config.timing == Timing::real ? reply.busy : Duration::zero();
    TimePoint start = std::max(at + busy, transmitter_free);
    const bool lost = !reply.bytes.empty() && faults.lose_reply();
    TimePoint finished = start;
    if (!reply.bytes.empty() && !lost) {
        if (const int noise = faults.noise_byte(); noise >= 0) {
            const auto byte = static_cast<std::uint8_t>(noise);
            put(std::span(&byte, 1), start);
            start = transmitter_free;
        }
        const std::size_t size = reply.bytes.size();
        const std::size_t pieces = std::clamp<std::size_t>(config.faults.split_pieces, 1, size);
        std::size_t done = 0;
        for (std::size_t piece = 0; piece < pieces; ++piece) {
            const std::size_t end = size * (piece + 1) / pieces;
            put(std::span(reply.bytes).subspan(done, end - done), start);
            done = end;
            start = transmitter_free + config.faults.split_gap;
        }
        finished = transmitter_free;
    }
    if (reply.record) {
        CommandRecord record = *reply.record;
        record.reply_lost = lost;
        if (lost) {
            record.text += " [reply lost]";
        }
        log(record.text);
        records.push_back(std::move(record));
    }
    switch (reply.then) {
        case Reply::Then::nothing:
            break;
        case Reply::Then::reset:
            boot(finished);
            break;
        case Reply::Then::run:
            start_application(finished, reply.run_address);
            break;
    }
}

void Target::State::pump_greeting(TimePoint now) {
    if (mode != Mode::application || emulated || config.greeting.empty()) {
        return;
    }
    if (now - next_greeting > greeting_period) {
        next_greeting = now;  // nobody listened for a while: no backlog of greetings
    }
    while (next_greeting <= now) {
        if (vector_table_plausible()) {
            const auto* text = reinterpret_cast<const std::uint8_t*>(config.greeting.data());
            put(std::span(text, config.greeting.size()), std::max(next_greeting, transmitter_free));
        }
        next_greeting += greeting_period;
    }
}

void Target::State::on_byte(std::uint8_t byte, TimePoint at) {
    if (mode == Mode::held_in_reset) {
        return;
    }
    const bool idle = config.resync_after_idle && at - last_activity >= *config.resync_after_idle;
    last_activity = std::max(last_activity, at);
    // Inside a command the bootloader takes any byte as the one it awaits,
    // however late it comes; before synchronisation it needs no help.
    if (idle && byte == sync_byte && (mode != Mode::bootloader || bootloader.awaiting_command())) {
        log("new session after idle line");
        firmware.reset();
        bootloader.restart();
        mode = Mode::bootloader;
    }
    if (mode == Mode::application && firmware) {
        firmware->send(std::span(&byte, 1));
    }
    if (mode != Mode::bootloader) {
        return;  // the fixed greeting ignores what it receives
    }
    for (const Reply& reply : bootloader.feed(byte)) {
        schedule(reply, at);
    }
}

Target::Target(TargetConfig config) : state_(std::make_unique<State>(std::move(config))) {
    State& s = *state_;
    const TimePoint now = Clock::now();
    if (s.config.start == StartMode::pins && !s.boot0_high()) {
        s.start_application(now, flash_base);
    }
}

Target::~Target() = default;

void Target::receive(std::span<const std::uint8_t> bytes, TimePoint now) {
    {
        std::lock_guard lock(state_->mutex);
        State& s = *state_;
        for (std::uint8_t byte : bytes) {
            // A byte is complete once its last bit has arrived.
            const TimePoint at = std::max(now, s.receiver_free) + s.byte_time(1);
            s.receiver_free = at;
            s.on_byte(byte, at);
        }
    }
    state_->notify_listener();
}

Output Target::take_output(TimePoint now) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    s.pump_greeting(now);
    s.pump_firmware(now);
    Output out;
    while (!s.pending.empty() && s.pending.front().first <= now) {
        out.bytes.push_back(s.pending.front().second);
        s.pending.pop_front();
    }
    if (!out.bytes.empty()) {
        s.last_output = now;
    }
    const auto& drop_after = s.config.faults.drop_after_bytes;
    if (drop_after && !s.dropped && s.bytes_sent + out.bytes.size() >= *drop_after) {
        out.bytes.resize(static_cast<std::size_t>(*drop_after - s.bytes_sent));
        out.drop_connection = true;
        s.dropped = true;
        s.stop_transmitting(now);
    }
    s.bytes_sent += out.bytes.size();
    return out;
}

std::optional<TimePoint> Target::next_output_due() const {
    std::lock_guard lock(state_->mutex);
    const State& s = *state_;
    std::optional<TimePoint> due;
    if (!s.pending.empty()) {
        // The bytes of a run leave in batches, as a USB adapter hands them over: none before its
        // last bit is due, the run's last byte exactly then, the ones before it at most one batch
        // late. A pause longer than a batch ends a run, so pauses keep their length.
        TimePoint run_end = s.pending.front().first;
        for (const auto& [at, byte] : s.pending) {
            if (at - run_end > output_batch) {
                break;
            }
            run_end = at;
        }
        due = std::min(run_end, std::max(s.pending.front().first, s.last_output + output_batch));
    }
    if (s.mode == Mode::application && !s.emulated && !s.config.greeting.empty() &&
        (!due || s.next_greeting < *due)) {
        due = s.next_greeting;
    }
    if (s.firmware && s.mode == Mode::application && s.firmware->has_output()) {
        const TimePoint ready = s.transmitter_free - s.byte_time(firmware_lead_bytes);
        if (!due || ready < *due) {
            due = ready;
        }
    }
    return due;
}

void Target::discard_output(TimePoint now) {
    std::lock_guard lock(state_->mutex);
    state_->stop_transmitting(now);
    state_->next_greeting = now;
}

void Target::set_line(const LineSettings& line) {
    std::lock_guard lock(state_->mutex);
    state_->line = line;
}

LineSettings Target::line() const {
    std::lock_guard lock(state_->mutex);
    return state_->line;
}

void Target::set_dtr(bool asserted, TimePoint now) {
    {
        std::lock_guard lock(state_->mutex);
        State& s = *state_;
        if (asserted == s.dtr) {
            return;
        }
        s.dtr = asserted;
        s.stop_transmitting(now);
        if (asserted) {
            s.mode = Mode::held_in_reset;
            s.firmware.reset();
        } else {
            s.boot(now);
        }
    }
    state_->notify_listener();
}

void Target::set_faults(const FaultConfig& faults) {
    std::lock_guard lock(state_->mutex);
    state_->config.faults = faults;
    state_->faults = FaultInjector(faults, state_->config.seed);
}

void Target::set_rts(bool asserted, TimePoint) {
    std::lock_guard lock(state_->mutex);
    state_->rts = asserted;  // BOOT0 only matters when reset ends
}

bool Target::dtr() const {
    std::lock_guard lock(state_->mutex);
    return state_->dtr;
}

bool Target::rts() const {
    std::lock_guard lock(state_->mutex);
    return state_->rts;
}

void Target::reset(TimePoint now) {
    {
        std::lock_guard lock(state_->mutex);
        State& s = *state_;
        if (s.dtr) {
            return;  // still held in reset by DTR
        }
        s.stop_transmitting(now);
        s.boot(now);
    }
    state_->notify_listener();
}

void Target::stop_firmware() {
    std::lock_guard lock(state_->mutex);
    if (state_->firmware) {
        state_->log("firmware stopped: the host is gone");
        state_->firmware.reset();
        state_->firmware_parked = state_->mode == Mode::application;
    }
}

void Target::resume_firmware(TimePoint now) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (s.firmware_parked && s.mode == Mode::application) {
        s.log("firmware starts again: a host is back");
        s.start_application(now, s.application_vectors);
    }
}

void Target::set_output_listener(std::function<void()> listener) {
    std::lock_guard lock(state_->listener_mutex);
    state_->listener = std::move(listener);
}

Mode Target::mode() const {
    std::lock_guard lock(state_->mutex);
    return state_->mode;
}

const Product& Target::product() const {
    return state_->config.product;
}

std::vector<std::uint8_t> Target::flash() const {
    std::lock_guard lock(state_->mutex);
    return state_->memory.flash();
}

std::optional<std::vector<std::uint8_t>> Target::read_memory(std::uint32_t address,
                                                             std::uint32_t length) const {
    std::lock_guard lock(state_->mutex);
    return state_->memory.read(address, length);
}

bool Target::load_flash(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (bytes.empty()) {
        return s.memory.area_of(address, 1) == Area::flash;
    }
    if (bytes.size() > s.config.product.flash_bytes ||
        s.memory.area_of(address, static_cast<std::uint32_t>(bytes.size())) != Area::flash) {
        return false;
    }
    s.memory.load_flash(address - flash_base, bytes);
    return true;
}

std::array<std::uint8_t, 12> Target::unique_id() const {
    return state_->unique_id;
}

bool Target::readout_protected() const {
    std::lock_guard lock(state_->mutex);
    return state_->memory.readout_protected();
}

std::uint32_t Target::write_protection_groups() const {
    const std::lock_guard lock(state_->mutex);
    return state_->memory.group_count();
}

std::uint32_t Target::write_protection() const {
    std::lock_guard lock(state_->mutex);
    return state_->memory.write_protection();
}

std::uint64_t Target::reset_count() const {
    std::lock_guard lock(state_->mutex);
    return state_->resets;
}

std::vector<CommandRecord> Target::commands() const {
    std::lock_guard lock(state_->mutex);
    return state_->records;
}

void Target::clear_commands() {
    std::lock_guard lock(state_->mutex);
    state_->records.clear();
}

}  // namespace stm32sim
