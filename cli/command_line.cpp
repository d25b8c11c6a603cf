#include "command_line.h"

#include <unistd.h>

#include <algorithm>
#include <thread>

#include "board_job.h"
#include "exit_code.h"
#include "failure_text.h"
#include "interrupt.h"
#include "options.h"
#include "progress.h"

namespace cli {
namespace {

// Where an image file may place bytes before the chip is known: from the
// flash base up to the largest STM32 flash; each board then checks its own.
constexpr isp::FlashLimits kAnyFlash{isp::kDefaultFlashBase, 16u * 1024 * 1024};

std::string formatName(isp::ImageFormat format) {
    switch (format) {
        case isp::ImageFormat::kIntelHex:
            return "Intel HEX";
        case isp::ImageFormat::kElf:
            return "ELF";
        case isp::ImageFormat::kBinary:
            break;
    }
    return "binary";
}

std::string imageErrorText(const isp::ImageError& error) {
    std::string text;
    switch (error.kind) {
        case isp::ImageErrorKind::kHexSyntax:
            text = "not valid Intel HEX";
            break;
        case isp::ImageErrorKind::kOutsideFlash:
            text = "data outside the flash";
            break;
        case isp::ImageErrorKind::kOverlap:
            text = "data given twice";
            break;
        case isp::ImageErrorKind::kNoData:
            text = "nothing to program";
            break;
        case isp::ImageErrorKind::kBadElf:
            text = "not an ELF file this program reads";
            break;
        case isp::ImageErrorKind::kUnreadable:
            text = "cannot read it";
            break;
    }
    if (error.line != 0)
        text += " on line " + std::to_string(error.line);
    if (error.address)
        text += " at " + hexAddress(*error.address);
    if (!error.detail.empty())
        text += " (" + error.detail + ")";
    return text;
}

struct LoadOutcome {
    std::optional<isp::LoadedImage> image;
    ExitCode code = ExitCode::kSuccess;
    std::string message;
};

// Text that opens like a HEX record: a file meant as HEX that the content
// check took for binary because of a bad character must not be flashed raw.
bool opensLikeHex(const isp::Bytes& bytes) {
    std::size_t at = 0;
    while (at < bytes.size() && (bytes[at] == '\r' || bytes[at] == '\n' || bytes[at] == ' ')) {
        ++at;
    }
    if (at >= bytes.size() || bytes[at] != ':')
        return false;
    std::size_t printable = 0;
    for (; at < bytes.size() && bytes[at] != '\n' && bytes[at] != '\r'; ++at, ++printable) {
        if (bytes[at] < 0x20 || bytes[at] > 0x7E)
            return false;
    }
    return printable >= 11;  // the shortest record, ":00000001FF"
}

LoadOutcome loadImage(const Options& options) {
    isp::ImageLoadOptions load;
    load.limits = kAnyFlash;
    load.binaryAddress = options.address;
    auto loaded = isp::loadImageFile(options.file, load);
    if (const auto* image = std::get_if<isp::LoadedImage>(&loaded);
        image != nullptr && image->format == isp::ImageFormat::kBinary &&
        opensLikeHex(image->image.bytes)) {
        load.format = isp::ImageFormat::kIntelHex;
        loaded = isp::loadImageFile(options.file, load);
    }
    if (auto* error = std::get_if<isp::ImageError>(&loaded)) {
        return {std::nullopt, ExitCode::kBadFile,
                "chipload: " + options.file + ": " + imageErrorText(*error)};
    }
    auto& image = std::get<isp::LoadedImage>(loaded);
    if (options.address && image.format != isp::ImageFormat::kBinary) {
        return {std::nullopt, ExitCode::kUsage,
                "chipload: --address is for raw binary files; " + options.file + " is " +
                    formatName(image.format) + " and carries its own addresses"};
    }
    return {std::move(image), ExitCode::kSuccess, {}};
}

std::string padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

std::string summaryTable(const std::vector<BoardOutcome>& outcomes) {
    std::size_t portWidth = 4, productWidth = 7;
    for (const auto& outcome : outcomes) {
        portWidth = std::max(portWidth, outcome.port.size());
        productWidth = std::max(productWidth, outcome.product.size());
    }
    std::string table = padded("port", portWidth) + "  " + padded("product", productWidth) + "  " +
                        padded("time", 8) + "  result\n";
    for (const auto& outcome : outcomes) {
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%.1f s", outcome.elapsed.count());
        const std::string result = outcome.code == ExitCode::kSuccess
                                       ? "ok: " + outcome.summary
                                       : "FAILED (" +
                                             std::to_string(static_cast<int>(outcome.code)) +
                                             "): " + outcome.summary;
        table += padded(outcome.port, portWidth) + "  " +
                 padded(outcome.product.empty() ? "-" : outcome.product, productWidth) + "  " +
                 padded(seconds, 8) + "  " + result + "\n";
    }
    return table;
}

}  // namespace

bool wantsCommandLine(int argc, char** argv) {
    return argc > 1 && isSubcommand(argv[1]);
}

int runCommandLine(int argc, char** argv) {
    return runCommandLine(std::vector<std::string>(argv + 1, argv + argc), stdout, stderr,
                          isatty(STDERR_FILENO) == 1);
}

int runCommandLine(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                   bool errIsTerminal) {
    const ParseOutcome parsed = parseOptions(args);
    if (!parsed.options) {
        std::fprintf(parsed.code == ExitCode::kSuccess ? out : err, "%s\n", parsed.message.c_str());
        return static_cast<int>(parsed.code);
    }
    const Options& options = *parsed.options;
    std::optional<isp::LoadedImage> image;
    if (options.command == Subcommand::kFlash || options.command == Subcommand::kVerify) {
        auto loaded = loadImage(options);
        if (!loaded.image) {
            std::fprintf(err, "%s\n", loaded.message.c_str());
            return static_cast<int>(loaded.code);
        }
        image = std::move(loaded.image);
    }

    const ProgressStyle style = options.quiet   ? ProgressStyle::kNone
                                : errIsTerminal ? ProgressStyle::kBar
                                                : ProgressStyle::kLines;
    Progress progress(err, style, options.ports);
    if (image) {
        for (std::size_t i = 0; i < options.ports.size(); ++i) {
            progress.note(i, options.file + ": " + formatName(image->format) + ", " +
                                 std::to_string(image->image.bytes.size()) + " bytes at " +
                                 hexAddress(image->image.base));
        }
    }

    InterruptWatch interrupt;
    std::vector<BoardOutcome> outcomes(options.ports.size());
    {
        std::vector<std::jthread> boards;
        for (std::size_t i = 0; i < options.ports.size(); ++i) {
            boards.emplace_back([&, i] {
                const BoardJob job{options, image ? &*image : nullptr, progress, i,
                                   &InterruptWatch::flag()};
                outcomes[i] = runBoard(job, options.ports[i]);
            });
        }
    }
    progress.close();

    ExitCode worst = ExitCode::kSuccess;
    for (const auto& outcome : outcomes) {
        worst = worse(worst, outcome.code);
        if (outcome.output.empty())
            continue;
        if (outcomes.size() == 1 || options.command == Subcommand::kInfo) {
            std::fputs(outcome.output.c_str(), out);
        } else {
            std::fprintf(out, "%s: %s", outcome.port.c_str(), outcome.output.c_str());
        }
    }
    if (outcomes.size() > 1) {
        std::fputs(summaryTable(outcomes).c_str(), out);
    }
    std::fflush(out);
    return static_cast<int>(worst);
}

}  // namespace cli
