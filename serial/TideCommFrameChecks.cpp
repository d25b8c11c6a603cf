// Frame checks of the receive framing: the NMEA 0183 sentence checksum and the Rondo frame.
#include "TideComm.h"

namespace {

// Rondo text is scrambled with the low nibbles of one key and summed against another.
constexpr char kRondoSumKey[] = "QuillFen";
constexpr char kRondoScrambleKey[] = "20740316";

bool IsUpperHexDigit(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The type letter fixes the text's length; the text between the type letter and its last
// character must be hex digits (and ':' for a time).
bool RondoTextValid(unsigned char* frame, unsigned int count) {
    if (frame[2] == 'X') {
        frame[2] = '0';
    }
    const unsigned char type = frame[1];
    switch (type) {
        case 'C':
        case 'F':
        case 'K':
        case 'R':
        case 'W':
        case 't':
            if (count != 7) {
                return false;
            }
            break;
        case 'T':
            // count first: with fewer characters frame[9] may lie past the frame.
            if (count != 11 || frame[6] != frame[9]) {
                return false;
            }
            break;
        case 'A':
        case 'N':
            if (count != 11) {
                return false;
            }
            break;
        default:
            return false;
    }
    for (unsigned int k = 2; k < count; ++k) {
        if (!IsUpperHexDigit(frame[k]) && !(type == 'T' && frame[k] == ':')) {
            return false;
        }
    }
    return true;
}

}  // namespace

int TideCommGPSReceiveCheck(TideCommPortRecord* record, int length) {
    const char* frame = record->frameBuffer;
    if (length < 4 || frame[0] != '$') {
        return 0;
    }
    int star;
    if (length >= 5 && frame[length - 5] == '*') {
        star = length - 5;
    } else if (frame[length - 4] == '*') {
        star = length - 4;
    } else {
        return 0;
    }
    unsigned int sum = 0;
    for (int k = 1; k < star; ++k) {
        sum ^= static_cast<unsigned char>(frame[k]);
    }
    return sum == (static_cast<unsigned int>(TideComm_HexToInt(frame + star + 1, 2)) & 0xFFu) ? 1
                                                                                              : 0;
}

int TideCommRondoReceiveCheck(TideCommPortRecord* record, int length) {
    auto* frame = reinterpret_cast<unsigned char*>(record->frameBuffer);
    if (length < 1 || frame[0] != '$') {
        return 0;
    }
    unsigned char sum = 0;
    unsigned char count = 0;
    for (int j = 1; j < length; ++j) {
        const unsigned char b = frame[j];
        if (b >= 0x80) {
            if (b - 0x80 != sum) {
                return 0;
            }
            frame[j] = 0;
            return RondoTextValid(frame, count) ? 1 : 0;
        }
        if (b >= 0x20) {
            const unsigned char plain =
                static_cast<unsigned char>(b ^ (kRondoScrambleKey[count % 8] & 0x0F));
            sum = static_cast<unsigned char>(sum ^ plain ^ kRondoSumKey[count % 8]);
            ++count;
            frame[j] = plain;
        }
    }
    return 0;
}
