// The bootloader library's reply assembly and decoders on arbitrary bytes
// delivered in arbitrary pieces. Beyond memory safety: the assembler never
// takes a byte past the end of its reply, gathers the same reply whatever
// the pieces, and a decoded reply agrees with its own bytes.
#include <cstdint>

#include "fuzz_check.h"
#include "replies.h"
#include "reply_assembler.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput input(data, size);
    const unsigned pick = input.byte();
    isp::ReplyAssembler::Shape shape;
    switch (pick % 5) {
        case 0:
            shape = isp::kAckShape;
            break;
        case 1:
            shape = isp::kGetShape;
            break;
        case 2:
            shape = isp::kGetVersionShape;
            break;
        case 3:
            shape = isp::kGetIdShape;
            break;
        default:
            shape = isp::ReplyAssembler::dataShape(pick / 5 + 1);
            break;
    }
    const unsigned pieceSize = input.byte() % 16 + 1;
    std::size_t length = 0;
    const std::uint8_t* bytes = input.take(input.left(), &length);

    isp::ReplyAssembler whole;
    whole.expect(shape);
    const std::size_t wholeTaken = whole.feed(std::span(bytes, length));
    FUZZ_CHECK(wholeTaken <= length, "takes only what it is given");
    FUZZ_CHECK(wholeTaken == whole.reply().size(), "takes only the reply's bytes");

    isp::ReplyAssembler pieces;
    pieces.expect(shape);
    std::size_t at = 0;
    while (at < length && pieces.state() == isp::ReplyAssembler::State::kWaiting) {
        const std::size_t piece = std::min<std::size_t>(pieceSize, length - at);
        const std::size_t taken = pieces.feed(std::span(bytes + at, piece));
        FUZZ_CHECK(taken <= piece, "takes only what it is given");
        FUZZ_CHECK(taken > 0, "a waiting reply takes a byte");
        at += taken;
    }
    FUZZ_CHECK(
        at == wholeTaken && pieces.state() == whole.state() && pieces.reply() == whole.reply(),
        "the same reply whatever the pieces");

    if (whole.state() == isp::ReplyAssembler::State::kComplete) {
        const auto& reply = whole.reply();
        FUZZ_CHECK(reply.front() == isp::kAck, "a complete reply starts with ACK");
        if (const auto info = isp::decodeGet(reply)) {
            FUZZ_CHECK(info->commands.size() == reply[1], "Get lists N commands");
        }
        if (isp::decodeGetVersion(reply)) {
            FUZZ_CHECK(reply.size() == 5, "Get Version is five bytes");
        }
        if (isp::decodeGetId(reply)) {
            FUZZ_CHECK(reply.size() == 5, "Get ID of two bytes");
        }
    }
    return 0;
}
