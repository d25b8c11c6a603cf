#include "e2e_session.h"

#include <cstdio>
#include <utility>

#include "ChipLoad.h"
#include "TideComm.h"
#include "session.h"

namespace e2e {

std::string DumpLine(std::uint32_t address, const std::uint8_t* bytes) {
    char text[64];
    int at = std::snprintf(text, sizeof text, "%08X:", address);
    for (int i = 0; i < 16; i++) {
        at += std::snprintf(text + at, sizeof text - static_cast<std::size_t>(at),
                            i == 0 ? "%02X" : " %02X", bytes[i]);
    }
    std::string line = std::string(text) + "  ";
    for (int i = 0; i < 16; i++) {
        line += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '.';
    }
    return line;
}

void Session::TearDown() {
    app.reset();
    board.reset();
}

void Session::start(const std::string& product, stm32sim::FaultConfig faults, apptest::Link link,
                    bool readProtected, std::vector<std::uint32_t> writeProtected) {
    board = std::make_unique<apptest::SimBoard>(kCom, product, faults, link, readProtected,
                                                std::move(writeProtected));
    startProgram();
}

void Session::start(const stm32sim::Product& product) {
    board = std::make_unique<apptest::SimBoard>(kCom, product, stm32sim::FaultConfig{},
                                                apptest::Link::kRfc2217);
    startProgram();
}

void Session::startProgram() {
    app = std::make_unique<apptest::AppHarness>();
    main = app->panels().main;
    isp = app->panels().isp;
    term = app->panels().term;
    ops = app->panels().ops;
    app->commit(main, PANEL_COMPORT, kCom);
}

void Session::pressConnect() {
    app->click(main, PANEL_CONNECT);
}

void Session::connect() {
    ui().setValue(ops, TABOPS_CHIP, 0);  // shown again by the identification
    pressConnect();
    ASSERT_TRUE(ui().waitUntil([&] { return ui().intValue(ops, TABOPS_CHIP) != 0; }, kLong))
        << status();
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    app->ui().clearPopups();
}

void Session::loadImage(const std::vector<std::uint8_t>& image) {
    const std::string path = files.write("image.bin", std::string(image.begin(), image.end()));
    ui().setValue(isp, TABISP_FILETYPE, 1);
    ui().queueFileAnswer(path);
    app->click(isp, TABISP_LOADFILE);
    ASSERT_EQ("文件读取完成", status());
    app->ui().clearPopups();
}

void Session::program() {
    app->click(ops, TABOPS_WRITE);
    ASSERT_TRUE(waitForPopup(kWriteDone)) << status();
}

bool Session::waitForPopup(const std::string& message, std::chrono::milliseconds timeout) {
    return ui().waitUntil(
        [&] {
            for (const auto& popup : ui().popups()) {
                if (popup.message == message) {
                    return true;
                }
            }
            return false;
        },
        timeout);
}

bool Session::waitForStatus(const std::string& text, std::chrono::milliseconds timeout) {
    return app->waitForStatus(text, timeout);
}

std::vector<std::string> Session::logAfter(const std::string& marker) const {
    const auto lines = log();
    std::vector<std::string> after;
    for (const auto& line : lines) {
        if (line == marker) {
            after.clear();
        } else {
            after.push_back(line);
        }
    }
    return after;
}

std::vector<std::string> Session::commandTexts() const {
    std::vector<std::string> texts;
    for (const auto& record : board->target().commands()) {
        texts.push_back(record.text);
    }
    return texts;
}

int Session::ispMode() {
    return app->onUi([] { return ISP_mode; });
}

int Session::sysReady() {
    return app->onUi([] { return ISP_sys_ready; });
}

bool Session::portOpen() {
    return app->onUi([] { return TideComm_GetPortOpen(kCom) != 0; });
}

std::vector<std::uint8_t> Pattern(std::size_t length, unsigned seed) {
    std::vector<std::uint8_t> bytes(length);
    unsigned state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>((state >> 16) % 0xFF);  // never 0xFF
    }
    return bytes;
}

}  // namespace e2e
