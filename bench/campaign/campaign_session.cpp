#include "campaign_session.h"

#include <algorithm>
#include <fstream>

#include "ChipLoad.h"

namespace campaign {

namespace {

constexpr char kWriteDone[] = "   Flash烧写完成！\n可以使用GO命令运行一下！！";
constexpr char kReadDone[] = "Flash读取完成！！！";
constexpr char kBlankDone[] = "Flash查空完毕！";
constexpr char kNotBlank[] = "芯片不空，请重新擦除！";
constexpr char kGoDone[] = "程序开始运行！！！";
constexpr char kConnectTimeout[] = "目标板响应超时，请检查线路！！";
// The log line of an exchange that got no answer in time.
constexpr char kNoAnswer[] = "目标板无应答";
// The connect button's label while the window holds a connection.
constexpr char kDisconnectLabel[] = "断开连接";
constexpr char kReadMarker[] = "开始分页读取FLASH信息...";
// A connect whose response timer spoke first gets this long to identify the chip.
constexpr std::chrono::seconds kLateIdentification{5};
// Titles of the pop-ups that report a failure; the protection ones also offer to lift it.
constexpr const char* kFailureTitles[] = {"告警",          "警告",       "警告！！！",
                                          "Warning~~~~~~", "芯片读保护", "芯片写保护"};
// "08000010:" and 16 bytes as "FF " pairs, then their text.
constexpr std::size_t kReadAddressLength = 9;
constexpr std::size_t kReadBytesLength = 16 * 3 - 1;

std::uint8_t HexByte(const std::string& text, std::size_t at) {
    return static_cast<std::uint8_t>(std::stoi(text.substr(at, 2), nullptr, 16));
}

}  // namespace

Operator::Operator(apptest::AppHarness& app, std::chrono::milliseconds bound, std::string imagePath)
    : app_(app), ui_(app.ui()), bound_(bound), imagePath_(std::move(imagePath)) {}

std::string Operator::failureShown(const std::string& notAFailure) const {
    for (const auto& popup : ui_.popups()) {
        const bool failureTitle =
            std::any_of(std::begin(kFailureTitles), std::end(kFailureTitles),
                        [&](const char* title) { return popup.title == title; });
        if (failureTitle && popup.message != notAFailure) {
            return popup.message;
        }
    }
    const std::string status = app_.status();
    return status == kConnectTimeout && notAFailure != kConnectTimeout ? status : std::string();
}

template <typename Predicate>
Operator::StepEnd Operator::await(Predicate&& succeeded, const std::string& notAFailure,
                                  std::chrono::milliseconds bound) {
    StepEnd end;
    const bool ended =
        ui_.waitUntil([&] { return succeeded() || !failureShown(notAFailure).empty(); },
                      bound.count() == 0 ? bound_ : bound);
    if (!ended) {
        return end;
    }
    end.message = failureShown(notAFailure);
    end.how = end.message.empty() ? Ended::success : Ended::failure;
    return end;
}

bool Operator::step(const char* name, StepEnd end, SessionResult& result) const {
    switch (end.how) {
        case Ended::success:
            return true;
        case Ended::failure: {
            result.failure = std::string(name) + ": " + end.message;
            const auto lines = app_.log();
            if (std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
                    return line.rfind(kNoAnswer, 0) == 0;
                })) {
                result.failure += " (no answer)";
            }
            return false;
        }
        case Ended::hang:
            result.hang = name;
            return false;
    }
    return false;
}

void Operator::startStep() {
    ui_.clearPopups();
}

Operator::StepEnd Operator::connect() {
    startStep();
    ui_.setValue(app_.panels().ops, TABOPS_CHIP, 0);
    app_.click(app_.panels().main, PANEL_CONNECT);
    const auto identified = [&] { return ui_.intValue(app_.panels().ops, TABOPS_CHIP) != 0; };
    const StepEnd end = await(identified);
    if (end.how != Ended::failure || end.message != kConnectTimeout) {
        return end;
    }
    // The response timer ticks at most 2 s after connect, at times before the
    // first reply could come; a late reply still identifies the chip.
    const StepEnd late = await(identified, kConnectTimeout, kLateIdentification);
    if (late.how == Ended::success) {
        lateIdentifications_++;
        return late;
    }
    return late.how == Ended::hang ? end : late;
}

void Operator::disconnect() {
    // A hang-up disconnects the window itself and the button then reads "connect": pressed,
    // it would connect to a board that is about to go, and that board's going would raise a
    // hang-up report in the next step. A hang-up still queued when the button is read does
    // the same to this press, so the button is read again after it.
    while (ui_.label(app_.panels().main, PANEL_CONNECT) == kDisconnectLabel) {
        app_.click(app_.panels().main, PANEL_CONNECT);
    }
}

bool Operator::connectWorks() {
    const bool identified = connect().how == Ended::success;
    disconnect();
    return identified;
}

std::vector<std::uint8_t> Operator::shownReadBytes() const {
    std::vector<std::uint8_t> bytes;
    for (const auto& line : app_.log()) {
        if (line == kReadMarker) {
            bytes.clear();
            continue;
        }
        if (line.size() < kReadAddressLength + kReadBytesLength ||
            line[kReadAddressLength - 1] != ':') {
            continue;
        }
        for (std::size_t i = 0; i < 16; i++) {
            bytes.push_back(HexByte(line, kReadAddressLength + 3 * i));
        }
    }
    return bytes;
}

SessionResult Operator::run(Board& board, const SessionPlan& plan) {
    SessionResult result;
    const auto ops = app_.panels().ops;
    app_.click(ops, TABOPS_CLEARLOG);
    app_.click(app_.panels().term, TABTERM_CLEARRECEIVE);
    const auto pages =
        static_cast<std::uint32_t>((plan.image.size() + plan.pageBytes - 1) / plan.pageBytes);
    std::vector<std::uint8_t> expected(pages * plan.pageBytes, 0xFF);
    std::copy(plan.image.begin(), plan.image.end(), expected.begin());
    const auto flashHoldsImage = [&] {
        const auto flash = board.target().flash();
        return std::equal(expected.begin(), expected.end(), flash.begin()) &&
               std::all_of(flash.begin() + static_cast<long>(expected.size()), flash.end(),
                           [](std::uint8_t b) { return b == 0xFF; });
    };

    bool ok = step("connect", connect(), result);
    if (ok) {
        std::ofstream(imagePath_, std::ios::binary)
            .write(reinterpret_cast<const char*>(plan.image.data()),
                   static_cast<std::streamsize>(plan.image.size()));
        ui_.setValue(app_.panels().isp, TABISP_FILETYPE, 1);
        ui_.queueFileAnswer(imagePath_);
        app_.click(app_.panels().isp, TABISP_LOADFILE);
        startStep();
        app_.click(ops, TABOPS_WRITE);
        const auto end = await([&] {
            const auto shown = ui_.popups();
            return std::any_of(shown.begin(), shown.end(),
                               [](const auto& popup) { return popup.message == kWriteDone; });
        });
        ok = step("program", end, result);
        if (ok && !flashHoldsImage()) {
            result.falseSuccess = "programming reported complete";
        }
    }
    if (ok && plan.readBack) {
        startStep();
        ui_.setValue(ops, TABOPS_STARTPAGE, 0);
        ui_.setValue(ops, TABOPS_ENDPAGE, static_cast<int>(pages - 1));
        app_.click(ops, TABOPS_PAGEREAD);
        ok = step("read", await([&] { return app_.status() == kReadDone; }), result);
        if (ok && shownReadBytes() != expected) {
            result.falseSuccess = "read shows other bytes than the flash holds";
        }
    } else if (ok) {
        startStep();
        app_.click(ops, TABOPS_CHECKBLANK);
        const auto end = await(
            [&] {
                if (app_.status() == kBlankDone) {
                    return true;
                }
                const auto shown = ui_.popups();
                return std::any_of(shown.begin(), shown.end(),
                                   [](const auto& popup) { return popup.message == kNotBlank; });
            },
            kNotBlank);
        ok = step("blank check", end, result);
        if (ok && app_.status() == kBlankDone) {
            result.falseSuccess = "blank check passed on a programmed chip";
        }
    }
    if (ok) {
        startStep();
        app_.click(ops, TABOPS_GO);
        ok = step("go", await([&] { return app_.status() == kGoDone; }), result);
    }
    disconnect();
    result.success = ok;
    result.flashHoldsImage = flashHoldsImage();
    return result;
}

}  // namespace campaign
