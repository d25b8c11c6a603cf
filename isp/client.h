// One bootloader session on one link. The client owns its link and keeps no
// global state, so each board can be driven from its own thread.
//
//   isp::Client client(std::move(link));
//   if (auto sync = client.synchronize(); !sync) { ... sync.failure() ... }
//   auto id = client.getId();
//   auto flash = client.readMemory(0x08000000, 65536);
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

#include "frames.h"
#include "link.h"
#include "protocol.h"
#include "replies.h"
#include "reply_assembler.h"
#include "result.h"

namespace isp {

// How long one try of a command may take and how often it is tried again
// after a refusal or a time-out. A failed try may have left the bootloader
// inside a frame: each retry first brings it back to waiting for a command,
// which takes up to five synchronisation time-outs.
struct CommandLimits {
    std::chrono::milliseconds timeout{1000};
    int retries = 2;
};

struct ClientOptions {
    // Each try sends one 0x7F and waits this long for ACK (or NACK, which a
    // bootloader already synchronised sends).
    CommandLimits sync{std::chrono::milliseconds(300), 4};
    CommandLimits query{std::chrono::milliseconds(1000), 2};  // Get, Get Version, Get ID
    CommandLimits read{std::chrono::milliseconds(1000), 2};
    CommandLimits write{std::chrono::milliseconds(1000), 2};
    CommandLimits go{std::chrono::milliseconds(1000), 1};
    // Per erase request; a request holds at most erasePagesPerRequest pages.
    CommandLimits erase{std::chrono::milliseconds(10000), 1};
    // Mass and bank erase of the largest flash take many seconds.
    CommandLimits massErase{std::chrono::milliseconds(60000), 0};
    std::size_t erasePagesPerRequest = 64;
    // Write Memory blocks are padded with erasedByte to a multiple of this
    // many bytes; their start address must be a multiple of it too.
    std::uint32_t writeUnit = 4;
    std::uint8_t erasedByte = kErasedByte;
};

// Called after each block with the bytes (or pages) done and the total.
using ProgressCallback = std::function<void(std::size_t done, std::size_t total)>;

class Client {
  public:
    // clock: nullptr for the steady clock.
    explicit Client(std::unique_ptr<Link> link, ClientOptions options = {}, Clock* clock = nullptr);

    Link& link() { return *link_; }
    const ClientOptions& options() const { return options_; }
    void setOptions(const ClientOptions& options) { options_ = options; }

    // Applies to the operations that follow; cleared by passing {} / nullptr.
    void setProgress(ProgressCallback progress) { progress_ = std::move(progress); }
    // Seen between blocks: an operation that finds it true stops with
    // Status::kCancelled and the address of the block it did not send.
    void setCancelFlag(const std::atomic<bool>* cancel) { cancel_ = cancel; }

    // How to get back into the bootloader after the chip resets itself (the
    // option-byte commands below): by default synchronise again, which
    // suffices while BOOT0 stays high; a board whose BOOT0 follows a modem
    // line needs its entry sequence replayed first.
    using Reconnect = std::function<Result<void>()>;
    void setReconnect(Reconnect reconnect) { reconnect_ = std::move(reconnect); }

    // Sends 0x7F until ACK or NACK comes back (options().sync).
    Result<void> synchronize();

    Result<BootloaderInfo> get();
    Result<VersionInfo> getVersion();
    Result<std::uint16_t> getId();

    // Any length; sent as requests of up to 256 bytes.
    Result<Bytes> readMemory(std::uint32_t address, std::size_t length);
    // Any length; sent as blocks of up to 256 bytes, the last one padded with
    // 0xFF to the write unit. address must be a multiple of the write unit.
    Result<void> writeMemory(std::uint32_t address, std::span<const std::uint8_t> data);

    // Erase (0x43): the listed pages (split into requests), or all flash.
    Result<void> erasePages(std::span<const std::uint8_t> pages);
    Result<void> eraseAll();
    // Extended Erase (0x44): the listed pages, or a mass/bank code.
    Result<void> extendedErasePages(std::span<const std::uint16_t> pages);
    Result<void> extendedErase(ExtendedEraseCode code);

    // Option-byte commands. The bootloader acknowledges the command and again
    // once the option bytes are written (Readout Unprotect first erases all
    // flash), then resets; each call reconnects (setReconnect) before it
    // returns, so the session goes on. Never retried: a lost second ACK may mean the
    // change was made.
    Result<void> readoutProtect();
    Result<void> readoutUnprotect();
    // groups: write-protection groups (bits of the family's WRP bytes, or
    // pages of its protected area), at most 256.
    Result<void> writeProtect(std::span<const std::uint8_t> groups);
    Result<void> writeUnprotect();

    // Go: jumps to the code at address; the bootloader leaves the session.
    Result<void> go(std::uint32_t address);

  private:
    struct Exchange;
    Result<Bytes> exchange(const Exchange& exchange);
    Status await(ReplyAssembler& reply, std::chrono::milliseconds timeout, Bytes& out);
    Status realign();
    template <class Page, class BuildFrame>
    Result<void> erasePageList(Command command, std::span<const Page> pages, std::size_t perRequest,
                               BuildFrame buildFrame);
    Result<void> optionCommand(Command command, std::optional<Bytes> groups, CommandLimits limits);
    bool cancelled() const;
    void reportProgress(std::size_t done, std::size_t total) const;

    std::unique_ptr<Link> link_;
    ClientOptions options_;
    Clock* clock_;
    ProgressCallback progress_;
    const std::atomic<bool>* cancel_ = nullptr;
    Reconnect reconnect_;
};

}  // namespace isp
