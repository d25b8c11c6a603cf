#include "reply_engine.h"

#include <cstring>
#include <vector>

#include "TideComm.h"
#include "receive_log.h"
#include "reply_handlers.h"
#include "session.h"
#include "terminal_echo.h"

namespace {

// A reply is at most the ACK and a 256-byte block.
constexpr int kMaxReply = 1 + ISP_MAX_BLOCK;

struct ReplyAssembly {
    unsigned char bytes[kMaxReply];
    int length;
    // The session's frame count when the first piece came: a frame sent
    // since then means the pieces answer an older command. The port's own
    // count would also move with the terminal's sends and its clear button.
    unsigned int frameCount;
};

ReplyAssembly assembly{};

using Handler = void (*)(int port, const unsigned char* reply, int length);

Handler HandlerOf(int mode) {
    switch (mode) {
        case 1:
            return HandleSyncReply;
        case 2:
            return HandleGetReply;
        case 3:
            return HandleGetVersionReply;
        case 4:
            return HandleGetIdReply;
        case 5:
            return HandleReadMemoryReply;
        case 6:
            return HandleGoReply;
        case 7:
            return HandleWriteMemoryReply;
        case 8:
            return HandleEraseReply;
        case 10:
            return HandleWriteUnprotectReply;
        case 12:
            return HandleReadoutUnprotectReply;
        default:
            return nullptr;
    }
}

// Length of the reply being gathered, or 0 while it cannot be known yet.
// A first byte other than the ACK is a whole refusal.
int ExpectedLength(const unsigned char* reply, int have) {
    if (have == 0) {
        return 0;
    }
    if (reply[0] != ISP_ACK) {
        return 1;
    }
    switch (ISP_mode) {
        case 2:
            if (have < 2) {
                return 0;
            }
            // 79, N, version, N command codes, 79.
            return reply[1] >= MAX_GET_COMMANDS ? 2 : reply[1] + 4;
        case 3:
            return 5;  // 79, version, two option bytes, 79
        case 4:
            if (have < 2) {
                return 0;
            }
            // Too many ID bytes: refused as soon as the count is seen.
            return reply[1] >= MAX_PRODUCT_ID_BYTES ? 2 : reply[1] + 4;
        case 5:
            return ReadMemoryReplyLength();
        case 10:
        case 12:
            return 2;  // the command's ACK, then one once the option bytes are written
        default:
            return 1;
    }
}

void FeedReply(int port, const unsigned char* data, int count, Handler handler) {
    const unsigned int frameCount = SessionFrameCount();
    if (assembly.length > 0 && assembly.frameCount != frameCount) {
        assembly.length = 0;
    }
    if (assembly.length == 0) {
        assembly.frameCount = frameCount;
    }
    int used = 0;
    while (used < count) {
        const int expected = ExpectedLength(assembly.bytes, assembly.length);
        const int want = expected > 0 ? expected : assembly.length + 1;
        if (assembly.length >= want) {
            break;
        }
        const int take =
            want - assembly.length < count - used ? want - assembly.length : count - used;
        std::memcpy(assembly.bytes + assembly.length, data + used, static_cast<std::size_t>(take));
        assembly.length += take;
        used += take;
    }
    const int expected = ExpectedLength(assembly.bytes, assembly.length);
    if (expected == 0 || assembly.length < expected) {
        return;
    }
    // Bytes past the reply answer nothing that was asked; they are only echoed.
    unsigned char reply[kMaxReply];
    const int length = assembly.length;
    std::memcpy(reply, assembly.bytes, static_cast<std::size_t>(length));
    assembly.length = 0;
    handler(port, reply, length);
}

}  // namespace

void ResetReplyAssembly(void) {
    assembly.length = 0;
}

int TideCommReceiveCallback(int port) {
    char* data = nullptr;
    int count = 0;
    if (TideComm_InputBuffer(port, &data, &count) == 0 && count > 0) {
        // A handler may give up and close the port, which frees the borrowed run,
        // and the echo still follows the handler: both work on a copy.
        const auto* borrowed = reinterpret_cast<const unsigned char*>(data);
        const std::vector<unsigned char> run(borrowed, borrowed + count);
        LogReceived(run.data(), count);
        if (EchoReceivedFrame(run.data(), count) == ECHO_HEX) {
            const Handler handler = HandlerOf(ISP_mode);
            if (handler != nullptr) {
                FeedReply(port, run.data(), count, handler);
            } else {
                ResetReplyAssembly();
            }
            EchoHexLine(run.data(), count);
        }
    }
    return TideComm_ClearInBufferCount(port);
}
