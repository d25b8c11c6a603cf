// The reply engine on arbitrary runs of received bytes, in every command the
// session may be waiting on and every step of each operation. The receive
// callback runs on the user-interface thread as the serial library would call
// it, on a port set up as open without threads; the session's own commands go
// to a port that stays closed, so nothing leaves the process and no reset
// pulse waits long. Beyond memory safety: the write never reads past the
// image or loses count of it, a read never stores more than was asked, the
// texts the replies fill stay terminated, and every run is released.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "ChipLoad.h"
#include "TideComm.h"
#include "callback_registry.h"
#include "fuzz_check.h"
#include "panel_handles.h"
#include "program_image.h"
#include "read_exchange.h"
#include "reply_engine.h"
#include "rte.h"
#include "rte_headless.h"
#include "session.h"
#include "startup.h"

namespace {

constexpr int kReplyPort = 1;
constexpr int kCommandPort = 3;  // never opened
constexpr int kFrameCapacity = 512;
// Bounds the reset pulses (30 ms each) one input may cause.
constexpr int kMaxRuns = 12;

char* Zeroed(int size) {
    return static_cast<char*>(std::calloc(static_cast<std::size_t>(size), 1));
}

struct Program {
    std::shared_ptr<rte::Headless> ui;
    TideCommPortRecord* port = nullptr;
};

// The engine, the panel and the open-looking port, once per process.
Program& Start() {
    static Program program = [] {
        Program p;
        p.ui = rte::Headless::Install();
        FUZZ_CHECK(InitRTEEx(nullptr, nullptr, nullptr) != 0, "engine starts");
        RegisterChipLoadCallbacks();
        panelHandle = LoadPanel(0, "ChipLoad.uir", 1);
        FUZZ_CHECK(panelHandle > 0, "panel file beside the executable loads");
        SystemInit();
        TimerID1 = -1;
        TideCommPortRecord* r = TideComm_GetStructPtr(kReplyPort);
        r->commHandle = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        r->dispatchThreadId = GetCurrentThreadId();
        r->writeThreadId = GetCurrentThreadId();
        r->inputLen = kFrameCapacity;
        r->frameCapacity = kFrameCapacity;
        r->readBuffer = Zeroed(kFrameCapacity);
        r->frameBuffer = Zeroed(kFrameCapacity + 1);
        r->receiveRing = Zeroed(r->inBufferSize);
        r->sendRing = Zeroed(r->outBufferSize);
        r->sendChunk = Zeroed(r->outputLen + 1);
        p.port = r;
        f_temp = static_cast<unsigned char*>(std::calloc(IMAGE_SIZE, 1));
        return p;
    }();
    return program;
}

// Everything the previous input left behind is forgotten.
void Settle(Program& program) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
    ProcessSystemEvents();
    program.ui->clearPopups();
    ResetTextBox(opsTabPanel, TABOPS_LOG, "");
    ResetTextBox(termTabPanel, TABTERM_RECEIVE, "");
    program.port->sendReadIndex.store(program.port->sendWriteIndex.load());
    program.port->frameCount.store(0);
}

constexpr int kModes[] = {0, 1, 3, 4, 5, 6, 7, 8};

// The state a command of the session leaves before its reply comes.
void Arrange(FuzzInput& in) {
    ResetSessionState();
    ResetReplyAssembly();
    comport = kCommandPort;
    ISP_mode = kModes[in.byte() % 8];
    const unsigned char steps = in.byte();
    sub_handshake_mode = (steps & 7) == 3 ? 5 : steps & 3;
    sub_read_mode = (steps >> 3) & 3;
    sub_write_mode = (steps >> 5) & 3;
    const unsigned char more = in.byte();
    sub_erase_mode = more & 3;
    sub_go_mode = (more >> 2) % 3;
    sub_erase_finish_mode = (more >> 4) & 1;
    sub_read_finish_mode = (more >> 5) & 1;
    fail_count = more >> 6;
    sub_erase_base_page = in.byte();
    sub_erase_page_number = 1 + in.byte();

    const int readLength = (in.byte() << 4) | (in.byte() & 0x0F);
    sub_read_byte_number = sub_read_finish_mode == 1 ? ID_BLOCK_LEN : readLength;
    sub_read_base_addr = sub_read_finish_mode == 1 ? ID_BLOCK_ADDR : FLASH_BASE_ADDR;
    if (sub_read_finish_mode == 0 && readLength > 0) {
        BeginFlashRead(static_cast<std::uint32_t>(readLength), in.byte() & 1, 0x08000000u);
    }

    binLength = ((in.byte() << 9) | (in.byte() << 1)) % (IMAGE_SIZE + 1);
    sub_write_byte_number = binLength;
    sub_write_byte_iterator = 0;
    sub_write_base_addr = FLASH_BASE_ADDR;
}

void CheckSession() {
    FUZZ_CHECK(ISP_mode >= 0 && ISP_mode <= 9, "awaited command known");
    FUZZ_CHECK(sub_write_byte_number >= 0 && sub_write_byte_iterator >= 0 &&
                   sub_write_byte_iterator <= IMAGE_SIZE,
               "write position within the image");
    FUZZ_CHECK(sub_write_byte_iterator + sub_write_byte_number == binLength,
               "every image byte sent once");
    FUZZ_CHECK(sub_read_byte_number.load() >= 0, "read never overruns its length");
    FUZZ_CHECK(f_read_rxint_iterator.load() <= f_read_len.load() || f_read_len.load() == 0,
               "a read stores no more than it asked for");
    FUZZ_CHECK(std::memchr(STM32_info.product_id, 0, sizeof STM32_info.product_id) != nullptr,
               "product ID terminated");
    FUZZ_CHECK(std::memchr(STM32_info.bootloader_version, 0,
                           sizeof STM32_info.bootloader_version) != nullptr,
               "version terminated");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Program& program = Start();
    Settle(program);
    FuzzInput in(data, size);
    Arrange(in);
    SetCtrlVal(termTabPanel, TABTERM_DISPLAY, 1);
    SetCtrlVal(termTabPanel, TABTERM_MODE, 1);

    TideCommPortRecord* port = program.port;
    for (int run = 0; run < kMaxRuns && !in.empty(); ++run) {
        // A run as the framing hands it over: 1..capacity bytes, NUL after them.
        std::size_t n = 0;
        const unsigned char lengthPick = in.byte();
        const unsigned char* bytes = in.take(lengthPick == 0xFF ? 257 : 1 + lengthPick % 64, &n);
        if (n == 0) {
            break;
        }
        std::memcpy(port->frameBuffer, bytes, n);
        port->frameBuffer[n] = 0;
        port->frameCount.store(static_cast<int>(n));
        TideCommReceiveCallback(kReplyPort);
        FUZZ_CHECK(port->frameCount.load() == 0, "run released");
        CheckSession();
    }
    Settle(program);
    return 0;
}
