#include "board_job.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "client.h"
#include "comm_link.h"
#include "device_table.h"
#include "failure_text.h"
#include "flash_layout.h"
#include "hex_writer.h"
#include "option_bytes.h"
#include "read_protection.h"
#include "whole_file.h"

namespace cli {
namespace {

// Each synchronisation attempt resets the board, then sends 0x7F twice.
constexpr isp::CommandLimits kSyncPerReset{std::chrono::milliseconds(300), 1};

struct JobFailed {
    FailureText text;
};

template <class T>
T take(isp::Result<T> result, std::string_view activity) {
    if (!result)
        throw JobFailed{describeFailure(result.failure(), activity)};
    return std::move(result.value());
}

void check(isp::Result<void> result, std::string_view activity) {
    if (!result)
        throw JobFailed{describeFailure(result.failure(), activity)};
}

std::string byteText(std::uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

std::string kib(std::uint64_t bytes) {
    return bytes % 1024 == 0 ? std::to_string(bytes / 1024) + " KiB"
                             : std::to_string(bytes) + " bytes";
}

class Session {
  public:
    Session(const BoardJob& job, BoardOutcome& outcome) : job_(job), outcome_(outcome) {}

    void run() {
        open();
        connect();
        identify();
        const Subcommand command = job_.options.command;
        if (readProtected_ && command != Subcommand::kInfo && command != Subcommand::kUnprotect) {
            throw JobFailed{{ExitCode::kTargetFailed, readProtectedText()}};
        }
        switch (job_.options.command) {
            case Subcommand::kFlash:
                flash();
                break;
            case Subcommand::kVerify:
                verify(fittedImage());
                break;
            case Subcommand::kRead:
                read();
                break;
            case Subcommand::kErase:
                erase();
                break;
            case Subcommand::kBlankCheck:
                blankCheck();
                break;
            case Subcommand::kInfo:
                info();
                break;
            case Subcommand::kGo:
                go(job_.options.address.value_or(flashBase()));
                break;
            case Subcommand::kProtect:
            case Subcommand::kUnprotect:
                changeProtection();
                break;
        }
    }

  private:
    void open() {
        isp::CommOpenError error;
        auto link = isp::openCommLink(outcome_.port, job_.options.baud, &error);
        if (!link) {
            throw JobFailed{describeOpenFailure(error, outcome_.port, job_.options.baud)};
        }
        client_.emplace(std::move(link));
        client_->setCancelFlag(job_.cancel);
        client_->setProgress(
            [this](std::size_t done, std::size_t) { job_.progress.advance(job_.index, done); });
        // After an option-byte change the chip resets: the entry sequence
        // brings it back into the bootloader whatever BOOT0's wiring.
        client_->setReconnect([this]() -> isp::Result<void> {
            try {
                connect();
                return {};
            } catch (const JobFailed& failed) {
                reconnectFailure_ = failed.text;
                isp::Failure failure;
                failure.status = isp::Status::kTimeout;
                return failure;
            }
        });
    }

    void connect() {
        auto limits = client_->options();
        limits.sync = kSyncPerReset;
        client_->setOptions(limits);
        const auto& wiring = job_.options.wiring;
        const unsigned attempts = job_.options.retries + 1;
        const auto sequence = isp::enterBootloaderSequence(wiring);
        std::optional<isp::Failure> last;
        for (unsigned attempt = 0; attempt < attempts; ++attempt) {
            if (job_.cancel != nullptr && job_.cancel->load()) {
                throw JobFailed{{ExitCode::kInterrupted, "interrupted while connecting"}};
            }
            if (!isp::playSequence(client_->link(), sequence, isp::steadyClock())) {
                throw JobFailed{{ExitCode::kPortFailed,
                                 "cannot set the modem lines of " + outcome_.port +
                                     "; try --reset none --boot0 none and a manual reset"}};
            }
            client_->link().flushInput();
            const auto sync = client_->synchronize();
            if (sync)
                return;
            last = sync.failure();
            if (last->status == isp::Status::kCancelled ||
                last->status == isp::Status::kLinkFailed) {
                break;
            }
        }
        throw JobFailed{describeSyncFailure(*last, wiring, job_.options.baud, attempts)};
    }

    void identify() {
        bootloader_ = take(client_->get(), "asking for the command list");
        productId_ = take(client_->getId(), "asking for the product ID");
        device_ = isp::DeviceTable::builtin().find(productId_);
        char id[8];
        std::snprintf(id, sizeof id, "0x%03X", productId_);
        outcome_.product = device_ != nullptr ? device_->name + " (" + id + ")"
                                              : std::string("unknown product ") + id;
        readProtected_ = take(isp::probeReadAccess(*client_, flashBase()),
                              "checking for read protection") == isp::ReadAccess::kReadProtected;
        if (device_ == nullptr)
            return;
        flashSize_ = device_->flashSizeMax;
        if (readProtected_)
            return;
        // The size word tells this part's flash from the largest of its ID.
        if (device_->flashSizeAddr != 0) {
            const auto word = client_->readMemory(device_->flashSizeAddr, 2);
            if (word && word.value().size() == 2) {
                const std::uint32_t sizeKib =
                    word.value()[0] | static_cast<std::uint32_t>(word.value()[1]) << 8;
                if (sizeKib != 0 && sizeKib != 0xFFFF)
                    flashSize_ = sizeKib * 1024;
            }
        }
        auto limits = client_->options();
        limits.writeUnit = std::max(limits.writeUnit, device_->writeUnit);
        limits.erasedByte = device_->erasedByte;
        client_->setOptions(limits);
    }

    std::uint8_t erasedByte() const {
        return device_ != nullptr ? device_->erasedByte : isp::kErasedByte;
    }

    // The file's image as this part takes it: from a whole write unit, what
    // the file leaves out in the part's erased value.
    isp::Image fittedImage() const {
        const isp::Image& image = job_.image->image;
        const isp::PartFit part{client_->options().writeUnit, erasedByte()};
        auto fitted = isp::fitImageToPart(image, part, {flashBase(), flashSize_});
        if (auto* error = std::get_if<isp::ImageError>(&fitted)) {
            throw JobFailed{{ExitCode::kBadFile,
                             job_.options.file + ": its bytes start at " + hexAddress(image.base) +
                                 ", off the " + std::to_string(part.writeUnit) +
                                 "-byte write unit, and erased bytes in front would start at " +
                                 hexAddress(error->address.value_or(0)) + ", outside the flash"}};
        }
        return std::get<isp::Image>(std::move(fitted));
    }

    std::uint32_t flashBase() const {
        return device_ != nullptr ? device_->flashBase : isp::kDefaultFlashBase;
    }

    const isp::DeviceInfo& knownDevice(std::string_view forWhat) const {
        if (device_ == nullptr) {
            throw JobFailed{{ExitCode::kTargetFailed, outcome_.product +
                                                          " is not in the device table, so its " +
                                                          std::string(forWhat) + " is unknown"}};
        }
        return *device_;
    }

    FlashLayout layout() const { return FlashLayout::of(knownDevice("page layout"), flashSize_); }

    bool extendedErase() const { return bootloader_.supports(isp::Command::kExtendedErase); }

    // Erasing with a bootloader that lists neither erase command would only
    // be refused by the chip; say why instead.
    void requireEraseCommand() const {
        if (!extendedErase() && !bootloader_.supports(isp::Command::kErase)) {
            throw JobFailed{{ExitCode::kTargetFailed,
                             outcome_.product +
                                 ": its bootloader lists neither Erase (0x43) nor Extended Erase "
                                 "(0x44) in its Get reply, so it cannot erase"}};
        }
    }

    void eraseAll() {
        requireEraseCommand();
        job_.progress.begin(job_.index, "erase", 1, "chip");
        if (extendedErase()) {
            check(client_->extendedErase(isp::ExtendedEraseCode::kMassErase), "mass erasing");
        } else {
            check(client_->eraseAll(), "mass erasing");
        }
        job_.progress.advance(job_.index, 1);
    }

    void erasePages(const std::vector<std::uint16_t>& pages, const FlashLayout& flash) {
        if (pages.empty())
            return;
        requireEraseCommand();
        job_.progress.begin(job_.index, "erase", pages.size(), "pages");
        const std::string activity = "erasing pages " + std::to_string(pages.front()) + "-" +
                                     std::to_string(pages.back()) + " from " +
                                     hexAddress(flash.unitAddress(pages.front()));
        if (extendedErase()) {
            check(client_->extendedErasePages(pages), activity);
            return;
        }
        std::vector<std::uint8_t> shortPages;
        for (const std::uint16_t page : pages) {
            if (page > 0xFF) {
                throw JobFailed{{ExitCode::kTargetFailed,
                                 activity + ": page " + std::to_string(page) +
                                     " cannot be named by this bootloader's Erase command"}};
            }
            shortPages.push_back(static_cast<std::uint8_t>(page));
        }
        check(client_->erasePages(shortPages), activity);
    }

    void checkFits(const isp::Image& image) const {
        const std::uint64_t end = std::uint64_t{flashBase()} + flashSize_;
        if (device_ != nullptr && (image.base < flashBase() || image.end() > end)) {
            throw JobFailed{{ExitCode::kBadFile,
                             job_.options.file + ": its bytes " + hexAddress(image.base) + "-" +
                                 hexAddress(static_cast<std::uint32_t>(image.end() - 1)) +
                                 " do not fit the " + kib(flashSize_) + " flash of " +
                                 outcome_.product + " at " + hexAddress(flashBase())}};
        }
    }

    // A cancelled block operation says how far it got.
    void checkBlocks(isp::Result<void> result, std::string_view activity, std::uint32_t base,
                     std::size_t total) {
        if (result)
            return;
        const auto& failure = result.failure();
        if (failure.status == isp::Status::kCancelled && failure.address) {
            const std::size_t done = *failure.address - base;
            throw JobFailed{{ExitCode::kInterrupted,
                             std::string("interrupted ") + std::string(activity) + " after " +
                                 std::to_string(done) + " of " + std::to_string(total) +
                                 " bytes (up to " + hexAddress(*failure.address) +
                                 "); the board waits in its bootloader"}};
        }
        check(result, activity);
    }

    isp::Bytes readBlocks(std::string_view phase, std::uint32_t address, std::size_t length) {
        job_.progress.begin(job_.index, phase, length);
        auto result = client_->readMemory(address, length);
        if (!result) {
            checkBlocks(result.failure(), phase == "read" ? "reading" : "reading back", address,
                        length);
        }
        return std::move(result.value());
    }

    void flash() {
        const isp::Image image = fittedImage();
        checkFits(image);
        if (job_.options.massErase) {
            eraseAll();
        } else {
            const FlashLayout flash = layout();
            erasePages(*flash.unitsTouching(image.base, image.end()), flash);
        }
        job_.progress.begin(job_.index, "write", image.bytes.size());
        checkBlocks(client_->writeMemory(image.base, image.bytes), "writing", image.base,
                    image.bytes.size());
        std::string result =
            "flashed " + std::to_string(image.bytes.size()) + " bytes at " + hexAddress(image.base);
        if (job_.options.verify) {
            verify(image);
            result += ", verified";
        }
        outcome_.summary = result;
        outcome_.output = result + "\n";
        if (job_.options.goAfter) {
            go(image.base);
        }
    }

    void verify(const isp::Image& image) {
        checkFits(image);
        const auto flash = readBlocks("verify", image.base, image.bytes.size());
        for (std::size_t i = 0; i < image.bytes.size(); ++i) {
            if (flash[i] != image.bytes[i]) {
                const auto at = image.base + static_cast<std::uint32_t>(i);
                throw JobFailed{{ExitCode::kVerifyMismatch,
                                 "verify failed at " + hexAddress(at) + ": flash holds " +
                                     byteText(flash[i]) + ", the file " + byteText(image.bytes[i]) +
                                     mismatchCause(at)}};
            }
        }
        outcome_.summary = "verified " + std::to_string(image.bytes.size()) + " bytes";
        outcome_.output = outcome_.summary + " at " + hexAddress(image.base) + "\n";
    }

    // A write-protected group is skipped by the bootloader without a NACK,
    // so a mismatch there is named as protection.
    std::string mismatchCause(std::uint32_t address) {
        const auto group = groupOf(address);
        const auto options = group ? optionBytes() : std::nullopt;
        if (options &&
            std::ranges::find(options->protectedGroups, *group) != options->protectedGroups.end()) {
            return "; the address lies in write-protected group " + std::to_string(*group) +
                   ", which the bootloader does not program: chipload unprotect --write lifts "
                   "the protection";
        }
        return "; erase and flash again";
    }

    void read() {
        const std::uint32_t address = job_.options.address.value_or(flashBase());
        std::size_t length = 0;
        if (job_.options.length) {
            length = *job_.options.length;
        } else {
            knownDevice("flash size");
            const std::uint64_t end = std::uint64_t{flashBase()} + flashSize_;
            if (address < flashBase() || address >= end) {
                throw JobFailed{{ExitCode::kUsage,
                                 hexAddress(address) + " is outside the flash; give --length"}};
            }
            length = static_cast<std::size_t>(end - address);
        }
        if (std::uint64_t{address} + length > 0x100000000ull) {
            throw JobFailed{{ExitCode::kUsage, "--address plus --length passes 0xFFFFFFFF"}};
        }
        const auto bytes = readBlocks("read", address, length);
        const bool hex = formatFor(job_.options) == OutputFormat::kHex;
        const std::string content =
            hex ? isp::toIntelHex(address, bytes) : std::string(bytes.begin(), bytes.end());
        if (!isp::writeWholeFile(job_.options.file, content)) {
            throw JobFailed{{ExitCode::kBadFile, "cannot write " + job_.options.file +
                                                     "; check the folder and free space"}};
        }
        outcome_.summary = "read " + std::to_string(length) + " bytes";
        outcome_.output = outcome_.summary + " from " + hexAddress(address) + " into " +
                          job_.options.file + (hex ? " (Intel HEX)" : " (binary)") + "\n";
    }

    void erase() {
        if (job_.options.eraseAll) {
            eraseAll();
            outcome_.summary = "erased the whole flash";
        } else {
            const FlashLayout flash = layout();
            const PageRange range = *job_.options.pages;
            if (range.last >= flash.unitCount()) {
                throw JobFailed{{ExitCode::kUsage, "--pages " + std::to_string(range.first) + "-" +
                                                       std::to_string(range.last) + ": " +
                                                       outcome_.product + " has pages 0-" +
                                                       std::to_string(flash.unitCount() - 1)}};
            }
            std::vector<std::uint16_t> pages;
            for (std::uint32_t page = range.first; page <= range.last; ++page) {
                pages.push_back(static_cast<std::uint16_t>(page));
            }
            erasePages(pages, flash);
            outcome_.summary =
                "erased pages " + std::to_string(range.first) + "-" + std::to_string(range.last);
        }
        outcome_.output = outcome_.summary + "\n";
    }

    void blankCheck() {
        knownDevice("flash size");
        const auto flash = readBlocks("read", flashBase(), flashSize_);
        for (std::size_t i = 0; i < flash.size(); ++i) {
            if (flash[i] != erasedByte()) {
                throw JobFailed{
                    {ExitCode::kVerifyMismatch,
                     "not blank: " + hexAddress(flashBase() + static_cast<std::uint32_t>(i)) +
                         " holds " + byteText(flash[i]) + "; erase with chipload erase --all"}};
            }
        }
        outcome_.summary = "blank";
        outcome_.output = "blank: " + kib(flashSize_) + " from " + hexAddress(flashBase()) + "\n";
    }

    void go(std::uint32_t address) {
        check(client_->go(address), "starting the program at " + hexAddress(address));
        const std::string started = "started at " + hexAddress(address);
        outcome_.summary += outcome_.summary.empty() ? started : ", " + started;
        outcome_.output += started + "\n";
    }

    std::string readProtectedText() const {
        return "the chip is read-protected: it answers Get ID, but the bootloader refused Read "
               "Memory of its flash, so the wiring is fine. Lifting the protection erases the "
               "whole flash: chipload unprotect --read --yes";
    }

    // The option bytes decoded, when the family's layout is known and the
    // chip lets them be read.
    std::optional<isp::OptionBytes> optionBytes() {
        if (device_ == nullptr || !device_->optionLayout || readProtected_)
            return std::nullopt;
        const auto block =
            take(client_->readMemory(device_->optionBytesAddr, device_->optionBytesSize),
                 "reading the option bytes");
        return isp::decodeOptionBytes(*device_, block);
    }

    std::optional<std::uint32_t> groupOf(std::uint32_t address) const {
        if (device_ == nullptr || address < flashBase())
            return std::nullopt;
        return isp::protectionGroupOf(*device_, flashSize_, address - flashBase());
    }

    // A failed reconnection says why in its own words.
    void checkOption(isp::Result<void> result, std::string_view activity) {
        if (!result && reconnectFailure_) {
            reconnectFailure_->line =
                std::string(activity) + " done, but after the reset: " + reconnectFailure_->line;
            throw JobFailed{*reconnectFailure_};
        }
        check(result, activity);
    }

    void changeProtection() {
        const bool protect = job_.options.command == Subcommand::kProtect;
        const bool read = job_.options.protection == ProtectionKind::kRead;
        if (read && protect) {
            checkOption(client_->readoutProtect(), "setting read protection");
            outcome_.summary = "read-protected";
        } else if (read) {
            job_.progress.begin(job_.index, "unprotect", 1, "chip");
            checkOption(client_->readoutUnprotect(), "lifting read protection (erases the flash)");
            job_.progress.advance(job_.index, 1);
            outcome_.summary = "read protection lifted, flash erased";
        } else if (protect) {
            checkOption(client_->writeProtect(job_.options.groups), "setting write protection");
            outcome_.summary = "write-protected groups " + groupList(job_.options.groups);
        } else {
            checkOption(client_->writeUnprotect(), "lifting write protection");
            outcome_.summary = "write protection lifted";
        }
        // The chip reset and the client synchronised again: show what it
        // holds now.
        readProtected_ = take(isp::probeReadAccess(*client_, flashBase()),
                              "checking for read protection") == isp::ReadAccess::kReadProtected;
        outcome_.output = outcome_.summary + "\n" + protectionLines(optionBytes());
    }

    template <class Groups>
    static std::string groupList(const Groups& groups) {
        std::string text;
        for (const auto group : groups) {
            text += (text.empty() ? "" : ",") + std::to_string(group);
        }
        return text.empty() ? "none" : text;
    }

    std::string protectionLines(const std::optional<isp::OptionBytes>& options) const {
        std::string text = "read protection:    ";
        if (readProtected_) {
            return text + "level 1 or 2: " + readProtectedText() + "\n";
        }
        if (!options) {
            return text + "none (flash readable)\n";
        }
        text += isp::readProtectionText(options->readProtectionLevel) + "\n";
        text +=
            "write protection:   " +
            (options->protectedGroups.empty() ? std::string("none")
                                              : "groups " + groupList(options->protectedGroups)) +
            "\n";
        std::string user;
        for (const std::uint8_t byte : options->user) {
            user += (user.empty() ? "" : " ") + byteText(byte);
        }
        return text + "user options:       " + user + "\n";
    }

    void info() {
        const auto version = take(client_->getVersion(), "asking for the version");
        nlohmann::ordered_json object;
        object["port"] = outcome_.port;
        char text[16];
        std::snprintf(text, sizeof text, "%u.%u", bootloader_.version >> 4,
                      bootloader_.version & 0xFu);
        object["bootloader_version"] = text;
        object["option_bytes"] = {version.option1, version.option2};
        std::string commandList;
        object["commands"] = nlohmann::ordered_json::array();
        for (const isp::Command command : bootloader_.commands) {
            std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(command));
            object["commands"].push_back({{"code", text}, {"name", isp::commandName(command)}});
            commandList += std::string(commandList.empty() ? "" : ", ") + text + " " +
                           std::string(isp::commandName(command));
        }
        std::snprintf(text, sizeof text, "0x%03X", productId_);
        object["product_id"] = text;
        object["product"] = device_ != nullptr ? nlohmann::ordered_json(device_->name) : nullptr;
        object["flash_size"] = device_ != nullptr ? nlohmann::ordered_json(flashSize_) : nullptr;
        object["ram_size"] =
            device_ != nullptr ? nlohmann::ordered_json(device_->ramSize) : nullptr;
        std::string uid;
        if (device_ != nullptr && device_->uidAddr != 0 && !readProtected_) {
            for (const std::uint8_t byte :
                 take(client_->readMemory(device_->uidAddr, 12), "reading the unique ID")) {
                std::snprintf(text, sizeof text, "%02X", byte);
                uid += text;
            }
        }
        object["unique_id"] =
            uid.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(uid);
        const auto options = optionBytes();
        nlohmann::ordered_json protection;
        protection["read_protected"] = readProtected_;
        protection["read_protection_level"] =
            options ? nlohmann::ordered_json(options->readProtectionLevel)
                    : nlohmann::ordered_json(nullptr);
        protection["write_protected_groups"] =
            options ? nlohmann::ordered_json(options->protectedGroups)
                    : nlohmann::ordered_json(nullptr);
        nlohmann::ordered_json user = nlohmann::ordered_json::array();
        for (const std::uint8_t byte : options ? options->user : std::vector<std::uint8_t>{}) {
            user.push_back(byteText(byte));
        }
        protection["user_options"] = options ? user : nlohmann::ordered_json(nullptr);
        object["protection"] = protection;
        outcome_.summary = "identified";
        if (job_.options.json) {
            outcome_.output = object.dump() + "\n";
            return;
        }
        outcome_.output = "port:               " + outcome_.port + "\n" +
                          "bootloader version: " + object["bootloader_version"].get<std::string>() +
                          "\n" + "commands:           " + commandList + "\n" +
                          "product:            " + outcome_.product + "\n";
        if (device_ != nullptr) {
            outcome_.output += "flash:              " + kib(flashSize_) + " at " +
                               hexAddress(device_->flashBase) + "\n" +
                               "RAM:                " + kib(device_->ramSize) + "\n";
        }
        if (!uid.empty())
            outcome_.output += "unique ID:          " + uid + "\n";
        outcome_.output += protectionLines(options);
    }

    const BoardJob& job_;
    BoardOutcome& outcome_;
    std::optional<isp::Client> client_;
    isp::BootloaderInfo bootloader_;
    std::uint16_t productId_ = 0;
    const isp::DeviceInfo* device_ = nullptr;
    std::uint32_t flashSize_ = 0;
    bool readProtected_ = false;
    std::optional<FailureText> reconnectFailure_;
};

}  // namespace

BoardOutcome runBoard(const BoardJob& job, const std::string& port) {
    const auto started = std::chrono::steady_clock::now();
    BoardOutcome outcome;
    outcome.port = port;
    try {
        Session(job, outcome).run();
    } catch (const JobFailed& failed) {
        outcome.code = failed.text.code;
        outcome.summary = failed.text.line;
        outcome.output.clear();
        job.progress.error(job.index, "error: " + failed.text.line);
    } catch (const std::exception& error) {
        // One board's surprise must not end the others' runs.
        outcome.code = ExitCode::kTargetFailed;
        outcome.summary = std::string("stopped: ") + error.what();
        outcome.output.clear();
        job.progress.error(job.index, "error: " + outcome.summary);
    }
    outcome.elapsed = std::chrono::steady_clock::now() - started;
    return outcome;
}

}  // namespace cli
