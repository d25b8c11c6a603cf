// A program that runs for real behind the chip, with a scripted stand-in for
// the emulator: when it starts and with which flash, how its output is paced
// onto the line, what reaches it, and every way it is stopped.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <memory>
#include <stdexcept>
#include <string>

#include "sim_wire.hpp"

namespace stm32sim::test {
namespace {

using namespace std::chrono_literals;

// What one run of the stand-in saw and is told to send.
struct FirmwareRun {
    Bytes flash;
    Bytes ram;
    std::uint32_t vector_table = 0;
    Bytes received;
    std::deque<std::uint8_t> to_send;
    bool stopped = false;
};

class ScriptedFirmware final : public RunningFirmware {
  public:
    explicit ScriptedFirmware(std::shared_ptr<FirmwareRun> run) : run_(std::move(run)) {}
    ~ScriptedFirmware() override { run_->stopped = true; }
    void send(std::span<const std::uint8_t> bytes) override {
        run_->received.insert(run_->received.end(), bytes.begin(), bytes.end());
    }
    std::vector<std::uint8_t> take(std::size_t max) override {
        Bytes out;
        while (!run_->to_send.empty() && out.size() < max) {
            out.push_back(run_->to_send.front());
            run_->to_send.pop_front();
        }
        return out;
    }
    bool has_output() const override { return !run_->to_send.empty(); }

  private:
    std::shared_ptr<FirmwareRun> run_;
};

// Stack at the end of the F100's 8 KiB, reset handler just after the table.
const Bytes program{0x00, 0x20, 0x00, 0x20, 0x09, 0x00, 0x00, 0x08, 0xFE, 0xE7};

Bytes text(std::string_view s) {
    return Bytes(s.begin(), s.end());
}

class Firmware : public ::testing::Test {
  protected:
    // BOOT0 on RTS, starting in the bootloader; the line is paced.
    explicit Firmware(bool launcher_runs_product = true) {
        TargetConfig config;
        config.product = *find_product("f100rb");
        config.timing = Timing::real;
        config.start = StartMode::bootloader;
        config.log = [this](const std::string& entry) { log += entry + "\n"; };
        config.run_firmware = [this, launcher_runs_product](
                                  const FirmwareStart& start) -> std::unique_ptr<RunningFirmware> {
            if (!launcher_runs_product) {
                return nullptr;
            }
            if (refuse_start) {
                throw std::runtime_error("no emulator here");
            }
            runs.push_back(std::make_shared<FirmwareRun>());
            runs.back()->flash.assign(start.flash.begin(), start.flash.end());
            runs.back()->ram.assign(start.ram.begin(), start.ram.end());
            runs.back()->vector_table = start.vector_table;
            return std::make_unique<ScriptedFirmware>(runs.back());
        };
        target = std::make_unique<Target>(config);
        target->load_flash(flash_base, program);
    }

    // Sync and Go to `address`; returns when the last ACK has left.
    TimePoint go(std::uint32_t address = flash_base) {
        target->receive(Bytes{0x7F} + command(0x21) + address_frame(address), t);
        t += 1s;
        EXPECT_EQ(target->take_output(t).bytes, (Bytes{ack, ack, ack}));
        return t;
    }

    std::unique_ptr<Target> target;
    std::vector<std::shared_ptr<FirmwareRun>> runs;
    bool refuse_start = false;
    std::string log;
    TimePoint t = Clock::now();
    const LineSettings line{};
};

TEST_F(Firmware, GoRunsTheFlashAndItsOutputIsPacedAtTheLineRate) {
    go();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]->flash, target->flash());
    EXPECT_EQ(target->mode(), Mode::application);

    runs[0]->to_send = {'H', 'i'};
    EXPECT_TRUE(target->next_output_due() <= t) << "output waiting in the firmware is due now";
    EXPECT_EQ(target->take_output(t).bytes, Bytes{}) << "the first byte still takes its time";
    // The ACKs left at t, less than a batch ago: both bytes are asked for together, when the
    // last one is complete.
    EXPECT_EQ(target->next_output_due(), t + line.time_for_bytes(2));
    EXPECT_EQ(target->take_output(t + line.time_for_bytes(1)).bytes, text("H"));
    EXPECT_EQ(target->take_output(t + line.time_for_bytes(2) - 1ns).bytes, Bytes{});
    EXPECT_EQ(target->take_output(t + line.time_for_bytes(2)).bytes, text("i"));
    EXPECT_EQ(target->take_output(t + 10s).bytes, Bytes{}) << "no greeting beside a firmware";
}

TEST_F(Firmware, TheHostsBytesReachTheRunningFirmware) {
    go();
    target->receive(text("ping\x7F"), t);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0]->received, text("ping\x7F")) << "0x7F too: the bootloader is not running";
}

TEST_F(Firmware, AResetWithBoot0LowRunsTheFlashAgainFromTheStart) {
    go();
    target->set_rts(false, t);
    target->reset(t);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0]->stopped);
    EXPECT_FALSE(runs[1]->stopped);
}

// Every way out of the application stops the firmware, and what it still
// had queued never reaches the line.
TEST_F(Firmware, EveryWayOutOfTheApplicationStopsTheFirmware) {
    const struct {
        const char* how;
        std::function<void(Target&, TimePoint)> leave;
        Mode after;
    } cases[] = {
        {"DTR held", [](Target& c, TimePoint at) { c.set_dtr(true, at); }, Mode::held_in_reset},
        {"DTR pulse with BOOT0 high",
         [](Target& c, TimePoint at) {
             c.set_rts(true, at);
             c.set_dtr(true, at);
             c.set_dtr(false, at + 30ms);
         },
         Mode::bootloader},
        {"host gone", [](Target& c, TimePoint) { c.stop_firmware(); }, Mode::application},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        runs.clear();
        target->set_dtr(false, t);
        target->set_rts(true, t);
        target->reset(t);
        go();
        ASSERT_EQ(runs.size(), 1u);
        runs[0]->to_send = {'l', 'a', 't', 'e'};
        c.leave(*target, t);
        EXPECT_TRUE(runs[0]->stopped);
        EXPECT_EQ(target->mode(), c.after);
        t += 1s;
        EXPECT_EQ(target->take_output(t).bytes, Bytes{});
    }
    target->receive(Bytes{0x7F}, t);
    t += 1s;
    EXPECT_EQ(target->take_output(t).bytes, Bytes{}) << "after the host left, nothing runs";
}

// Go starts the program whose table is at the address, in flash or in RAM,
// with the RAM the bootloader wrote; no table there, nothing runs.
TEST_F(Firmware, GoHandsTheLauncherItsAddressAndTheRam) {
    go(ram_base + 0x400);  // RAM holds no vector table: nothing to run
    EXPECT_TRUE(runs.empty());
    EXPECT_EQ(target->take_output(t + 5s).bytes, Bytes{}) << "no greeting either";
    EXPECT_NE(log.find("application at 0x20000400: no vector table, silent"), std::string::npos)
        << log;

    const struct {
        std::uint32_t address;
        Bytes load;  // how the program got there
    } cases[] = {
        {flash_base + 0x400, {}},
        {ram_base + 0x400, command(0x31) + address_frame(ram_base + 0x400) + block(program)},
    };
    target->load_flash(flash_base + 0x400, program);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        runs.clear();
        target->set_rts(true, t);
        target->set_dtr(true, t);
        target->set_dtr(false, t + 30ms);
        t += 1s;
        target->receive(Bytes{0x7F} + c.load + command(0x21) + address_frame(c.address), t);
        t += 1s;
        EXPECT_EQ(target->take_output(t).bytes, Bytes(c.load.empty() ? 3 : 6, ack));
        ASSERT_EQ(runs.size(), 1u);
        EXPECT_EQ(runs[0]->vector_table, c.address);
        ASSERT_EQ(runs[0]->ram.size(), target->product().ram_bytes);
        // The vector table, a whole number of words.
        EXPECT_EQ(Bytes(runs[0]->ram.begin() + 0x400, runs[0]->ram.begin() + 0x408),
                  c.load.empty() ? Bytes(8, 0x00) : Bytes(program.begin(), program.begin() + 8));
    }
}

// A host that leaves stops the firmware; the next one finds it started
// again from the same table. Nothing else starts it.
TEST_F(Firmware, ANewHostFindsAStoppedFirmwareRunningAgain) {
    target->load_flash(flash_base + 0x400, program);
    go(flash_base + 0x400);
    target->resume_firmware(t);
    EXPECT_EQ(runs.size(), 1u) << "a running firmware is left alone";
    target->stop_firmware();
    target->resume_firmware(t);
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_TRUE(runs[0]->stopped);
    EXPECT_EQ(runs[1]->vector_table, flash_base + 0x400);

    target->set_rts(true, t);
    target->set_dtr(true, t);  // held in reset: the firmware stops, nothing is parked
    target->set_dtr(false, t + 30ms);
    target->resume_firmware(t + 1s);
    EXPECT_EQ(runs.size(), 2u) << "the bootloader runs, not the firmware";
}

TEST_F(Firmware, AFirmwareThatCannotStartIsSilentAndSaysWhy) {
    refuse_start = true;
    go();
    EXPECT_EQ(target->take_output(t + 5s).bytes, Bytes{});
    EXPECT_NE(log.find("firmware not started: no emulator here"), std::string::npos) << log;
}

class FirmwareWithoutBoard : public Firmware {
  protected:
    FirmwareWithoutBoard() : Firmware(false) {}
};

TEST_F(FirmwareWithoutBoard, AProductTheLauncherCannotRunKeepsTheGreeting) {
    target->receive(Bytes{0x7F} + command(0x21) + address_frame(flash_base), t);
    EXPECT_EQ(target->take_output(t + 1s).bytes,
              Bytes({ack, ack, ack}) + text("Hello from ChipLoad sample\r\n"));
}

}  // namespace
}  // namespace stm32sim::test
