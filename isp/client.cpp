#include "client.h"

#include <algorithm>

#include "reply_assembler.h"

namespace isp {

namespace {

using std::chrono::milliseconds;

Failure failure(Status status, Command command, std::optional<std::uint32_t> address = {},
                Phase phase = Phase::kCommand) {
    return Failure{status, command, phase, address, 0};
}

}  // namespace

// One command as sent and answered: each stage sends its bytes and awaits
// its reply; the last stage's reply is the exchange's result.
struct Client::Exchange {
    struct Stage {
        Bytes send;
        ReplyAssembler::Shape reply;
        Phase phase;
    };
    Command command;
    std::optional<std::uint32_t> address;
    CommandLimits limits;
    std::vector<Stage> stages;
};

Client::Client(std::unique_ptr<Link> link, ClientOptions options, Clock* clock)
    : link_(std::move(link)), options_(options), clock_(clock ? clock : &steadyClock()) {}

bool Client::cancelled() const {
    return cancel_ != nullptr && cancel_->load();
}

void Client::reportProgress(std::size_t done, std::size_t total) const {
    if (progress_) {
        progress_(done, total);
    }
}

// Reads exactly what the awaited reply still lacks, never more, so a byte
// of a later exchange is never taken for part of this one. A first byte that
// is neither ACK nor NACK is line noise and skipped.
Status Client::await(ReplyAssembler& reply, milliseconds timeout, Bytes& out) {
    const auto deadline = clock_->now() + timeout;
    const ReplyAssembler::Shape shape = reply.shape();
    const auto isNoise = [&reply] {
        return reply.state() == ReplyAssembler::State::kInvalid && reply.reply().size() == 1;
    };
    std::uint8_t buffer[kMaxBlock + 8];
    while (reply.state() == ReplyAssembler::State::kWaiting) {
        const auto left = std::chrono::ceil<milliseconds>(deadline - clock_->now());
        if (left.count() <= 0) {
            return Status::kTimeout;
        }
        const std::size_t want = std::min(reply.missing(), sizeof buffer);
        const auto got = link_->read(std::span(buffer, want), left);
        if (!got) {
            return Status::kLinkFailed;
        }
        std::span<const std::uint8_t> rest(buffer, *got);
        while (!rest.empty() && reply.state() == ReplyAssembler::State::kWaiting) {
            rest = rest.subspan(reply.feed(rest));
            if (isNoise()) {
                reply.expect(shape);
            }
        }
    }
    switch (reply.state()) {
        case ReplyAssembler::State::kComplete:
            out = reply.reply();
            return Status::kOk;
        case ReplyAssembler::State::kRefused:
            return Status::kRefused;
        default:
            return Status::kBadReply;
    }
}

// After a failed try the bootloader may sit part-way through a frame (a lost
// reply, lost bytes) or be one byte out of step, and a plain resend would be
// read as the rest of that frame, shifting every later one. 0xFF bytes complete any frame it can
// wait for with a checksum that fails (or, for a data block, as a write of erased bytes, which
// changes nothing; after a stale 0x00, as a Get), and then pair up as invalid commands. Once the
// line is quiet at most one 0xFF is left waiting for its complement: a single probe byte NACKed
// shows the bootloader waits for a command with nothing pending.
Status Client::realign() {
    constexpr std::uint8_t kFiller = 0xFF;
    constexpr std::size_t kFillers = kMaxBlock + 6;
    if (!link_->write(Bytes(kFillers, kFiller))) {
        return Status::kLinkFailed;
    }
    // Reads until the line has been quiet for the synchronisation time-out,
    // or until more bytes came than the fillers can have caused (a chip that
    // chatters never goes quiet).
    const auto drain = [&]() -> bool {
        std::uint8_t byte = 0;
        for (std::size_t i = 0; i < 2 * kFillers; ++i) {
            const auto got = link_->read(std::span(&byte, 1), options_.sync.timeout);
            if (!got || *got == 0) {
                return got.has_value();
            }
        }
        return true;
    };
    if (!drain()) {
        return Status::kLinkFailed;
    }
    // Two probes settle it; a lost answer costs two more.
    for (int probe = 0; probe < 4; ++probe) {
        if (!link_->write(std::span(&kFiller, 1))) {
            return Status::kLinkFailed;
        }
        ReplyAssembler assembler;
        assembler.expect(kAckShape);
        Bytes reply;
        const Status status = await(assembler, options_.sync.timeout, reply);
        if (status == Status::kRefused) {
            return Status::kOk;
        }
        // An ACK starts a Get's reply (the probe completed a stale 0x00).
        if (status == Status::kLinkFailed || (status == Status::kOk && !drain())) {
            return Status::kLinkFailed;
        }
    }
    return Status::kTimeout;
}

Result<Bytes> Client::exchange(const Exchange& exchange) {
    Failure last = failure(Status::kTimeout, exchange.command, exchange.address);
    const int tries = std::max(0, exchange.limits.retries) + 1;
    for (int attempt = 1; attempt <= tries; ++attempt) {
        // Whatever a failed try left on the line (a late reply) goes first.
        if (attempt > 1 && !link_->flushInput()) {
            last.status = Status::kLinkFailed;
            return last;
        }
        if (attempt > 1 && realign() == Status::kLinkFailed) {
            last.status = Status::kLinkFailed;
            return last;
        }
        Bytes reply;
        Status status = Status::kOk;
        for (const auto& stage : exchange.stages) {
            last.phase = stage.phase;
            if (!link_->write(stage.send)) {
                status = Status::kLinkFailed;
                break;
            }
            ReplyAssembler assembler;
            assembler.expect(stage.reply);
            status = await(assembler, exchange.limits.timeout, reply);
            if (status != Status::kOk) {
                break;
            }
        }
        if (status == Status::kOk) {
            return reply;
        }
        last.status = status;
        last.attempts = attempt;
        if (status == Status::kLinkFailed) {
            break;
        }
    }
    return last;
}

Result<void> Client::synchronize() {
    const int tries = std::max(0, options_.sync.retries) + 1;
    Failure last = failure(Status::kTimeout, Command::kSynchronize);
    for (int attempt = 1; attempt <= tries; ++attempt) {
        last.attempts = attempt;
        if (!link_->flushInput() || !link_->write(std::span(&kSyncByte, 1))) {
            last.status = Status::kLinkFailed;
            return last;
        }
        ReplyAssembler assembler;
        assembler.expect(kAckShape);
        Bytes reply;
        Status status = await(assembler, options_.sync.timeout, reply);
        // A NACK comes from a bootloader that was synchronised already and
        // took the byte as part of a command, or from one that refused the
        // synchronisation; only the first answers a command.
        if (status == Status::kRefused) {
            if (!link_->write(commandFrame(Command::kGetVersion))) {
                last.status = Status::kLinkFailed;
                return last;
            }
            assembler.expect(kGetVersionShape);
            status = await(assembler, options_.sync.timeout, reply);
        }
        if (status == Status::kOk) {
            return {};
        }
        last.status = status;
        if (status == Status::kLinkFailed) {
            return last;
        }
    }
    return last;
}

Result<BootloaderInfo> Client::get() {
    auto reply = exchange({Command::kGet,
                           std::nullopt,
                           options_.query,
                           {{commandFrame(Command::kGet), kGetShape, Phase::kCommand}}});
    if (!reply) {
        return reply.failure();
    }
    if (auto info = decodeGet(reply.value())) {
        return *info;
    }
    return failure(Status::kBadReply, Command::kGet, std::nullopt, Phase::kReply);
}

Result<VersionInfo> Client::getVersion() {
    auto reply =
        exchange({Command::kGetVersion,
                  std::nullopt,
                  options_.query,
                  {{commandFrame(Command::kGetVersion), kGetVersionShape, Phase::kCommand}}});
    if (!reply) {
        return reply.failure();
    }
    if (auto info = decodeGetVersion(reply.value())) {
        return *info;
    }
    return failure(Status::kBadReply, Command::kGetVersion, std::nullopt, Phase::kReply);
}

Result<std::uint16_t> Client::getId() {
    auto reply = exchange({Command::kGetId,
                           std::nullopt,
                           options_.query,
                           {{commandFrame(Command::kGetId), kGetIdShape, Phase::kCommand}}});
    if (!reply) {
        return reply.failure();
    }
    if (auto id = decodeGetId(reply.value())) {
        return *id;
    }
    return failure(Status::kBadReply, Command::kGetId, std::nullopt, Phase::kReply);
}

Result<Bytes> Client::readMemory(std::uint32_t address, std::size_t length) {
    if (length > std::uint64_t{0x100000000} - address) {
        return failure(Status::kInvalidArgument, Command::kReadMemory, address);
    }
    Bytes data;
    data.reserve(length);
    while (data.size() < length) {
        const auto at = static_cast<std::uint32_t>(address + data.size());
        if (cancelled()) {
            return failure(Status::kCancelled, Command::kReadMemory, at);
        }
        const std::size_t count = std::min(kMaxBlock, length - data.size());
        auto reply =
            exchange({Command::kReadMemory,
                      at,
                      options_.read,
                      {{commandFrame(Command::kReadMemory), kAckShape, Phase::kCommand},
                       {addressFrame(at), kAckShape, Phase::kAddress},
                       {*lengthFrame(count), ReplyAssembler::dataShape(count), Phase::kPayload}}});
        if (!reply) {
            return reply.failure();
        }
        data.insert(data.end(), reply.value().begin() + 1, reply.value().end());
        reportProgress(data.size(), length);
    }
    return data;
}

Result<void> Client::writeMemory(std::uint32_t address, std::span<const std::uint8_t> data) {
    const std::uint32_t unit = std::max<std::uint32_t>(1, options_.writeUnit);
    if (address % unit != 0 || kMaxBlock % unit != 0 ||
        data.size() > std::uint64_t{0x100000000} - address) {
        return failure(Status::kInvalidArgument, Command::kWriteMemory, address);
    }
    std::size_t done = 0;
    while (done < data.size()) {
        const auto at = static_cast<std::uint32_t>(address + done);
        if (cancelled()) {
            return failure(Status::kCancelled, Command::kWriteMemory, at);
        }
        const std::size_t count = std::min(kMaxBlock, data.size() - done);
        Bytes block(data.begin() + static_cast<std::ptrdiff_t>(done),
                    data.begin() + static_cast<std::ptrdiff_t>(done + count));
        block.resize((count + unit - 1) / unit * unit, options_.erasedByte);
        auto reply = exchange({Command::kWriteMemory,
                               at,
                               options_.write,
                               {{commandFrame(Command::kWriteMemory), kAckShape, Phase::kCommand},
                                {addressFrame(at), kAckShape, Phase::kAddress},
                                {*dataBlockFrame(block), kAckShape, Phase::kPayload}}});
        if (!reply) {
            return reply.failure();
        }
        done += count;
        reportProgress(done, data.size());
    }
    return {};
}

template <class Page, class BuildFrame>
Result<void> Client::erasePageList(Command command, std::span<const Page> pages,
                                   std::size_t perRequest, BuildFrame buildFrame) {
    if (pages.empty()) {
        return failure(Status::kInvalidArgument, command);
    }
    std::size_t done = 0;
    while (done < pages.size()) {
        if (cancelled()) {
            return failure(Status::kCancelled, command, pages[done]);
        }
        const auto request = pages.subspan(done, std::min(perRequest, pages.size() - done));
        auto frame = buildFrame(request);
        if (!frame) {
            return failure(Status::kInvalidArgument, command, pages[done]);
        }
        auto reply = exchange({command,
                               pages[done],
                               options_.erase,
                               {{commandFrame(command), kAckShape, Phase::kCommand},
                                {std::move(*frame), kAckShape, Phase::kPayload}}});
        if (!reply) {
            return reply.failure();
        }
        done += request.size();
        reportProgress(done, pages.size());
    }
    return {};
}

Result<void> Client::erasePages(std::span<const std::uint8_t> pages) {
    const std::size_t perRequest = std::clamp<std::size_t>(options_.erasePagesPerRequest, 1, 255);
    return erasePageList(
        Command::kErase, pages, perRequest,
        [](std::span<const std::uint8_t> list) { return erasePageListFrame(list); });
}

Result<void> Client::extendedErasePages(std::span<const std::uint16_t> pages) {
    const std::size_t perRequest =
        std::clamp<std::size_t>(options_.erasePagesPerRequest, 1, kMaxExtendedErasePages);
    return erasePageList(
        Command::kExtendedErase, pages, perRequest,
        [](std::span<const std::uint16_t> list) { return extendedErasePageListFrame(list); });
}

Result<void> Client::eraseAll() {
    auto reply = exchange({Command::kErase,
                           std::nullopt,
                           options_.massErase,
                           {{commandFrame(Command::kErase), kAckShape, Phase::kCommand},
                            {eraseAllFrame(), kAckShape, Phase::kPayload}}});
    if (!reply) {
        return reply.failure();
    }
    return {};
}

Result<void> Client::extendedErase(ExtendedEraseCode code) {
    auto reply = exchange({Command::kExtendedErase,
                           std::nullopt,
                           options_.massErase,
                           {{commandFrame(Command::kExtendedErase), kAckShape, Phase::kCommand},
                            {extendedEraseCodeFrame(code), kAckShape, Phase::kPayload}}});
    if (!reply) {
        return reply.failure();
    }
    return {};
}

Result<void> Client::optionCommand(Command command, std::optional<Bytes> groups,
                                   CommandLimits limits) {
    limits.retries = 0;
    const Phase second = groups ? Phase::kPayload : Phase::kReply;
    auto reply = exchange({command,
                           std::nullopt,
                           limits,
                           {{commandFrame(command), kAckShape, Phase::kCommand},
                            {groups.value_or(Bytes{}), kAckShape, second}}});
    if (!reply) {
        return reply.failure();
    }
    return reconnect_ ? reconnect_() : synchronize();
}

Result<void> Client::readoutProtect() {
    return optionCommand(Command::kReadoutProtect, std::nullopt, options_.erase);
}

Result<void> Client::readoutUnprotect() {
    return optionCommand(Command::kReadoutUnprotect, std::nullopt, options_.massErase);
}

Result<void> Client::writeProtect(std::span<const std::uint8_t> groups) {
    // The group list is framed like Erase's page list.
    auto frame = erasePageListFrame(groups);
    if (!frame) {
        return failure(Status::kInvalidArgument, Command::kWriteProtect);
    }
    return optionCommand(Command::kWriteProtect, std::move(*frame), options_.erase);
}

Result<void> Client::writeUnprotect() {
    return optionCommand(Command::kWriteUnprotect, std::nullopt, options_.erase);
}

Result<void> Client::go(std::uint32_t address) {
    auto reply = exchange({Command::kGo,
                           address,
                           options_.go,
                           {{commandFrame(Command::kGo), kAckShape, Phase::kCommand},
                            {addressFrame(address), kAckShape, Phase::kAddress}}});
    if (!reply) {
        return reply.failure();
    }
    return {};
}

}  // namespace isp
