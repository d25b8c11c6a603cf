#include "TideCommConvert.h"

static const char kHexDigits[] = "0123456789ABCDEF";

// Lenient digit value for hex text read from the wire or a file: letters of
// either case, anything else its code minus '0', wrapping like an int would.
static unsigned int HexDigitValue(unsigned char c) {
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10u;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10u;
    }
    return static_cast<unsigned int>(c) - 0x30u;
}

// The UU encoder's variant: codes up to '9' are digits, the rest letters.
static unsigned int UUHexDigitValue(unsigned char c) {
    if (c <= '9') {
        return static_cast<unsigned int>(c) - 0x30u;
    }
    return (c & 0xDFu) - 0x41u + 10u;
}

static char UUChar(unsigned int sixBits) {
    sixBits &= 0x3Fu;
    return sixBits == 0 ? '`' : static_cast<char>(0x20u + sixBits);
}

static unsigned int UUValue(char c) {
    if (c == '`') {
        return 0;
    }
    return static_cast<unsigned int>(static_cast<unsigned char>(c)) - 0x20u;
}

static void EncodeUUGroup(const unsigned char* b, char* text) {
    text[0] = UUChar(b[0] >> 2);
    text[1] = UUChar(((b[0] & 0x03u) << 4) | (b[1] >> 4));
    text[2] = UUChar(((b[1] & 0x0Fu) << 2) | (b[2] >> 6));
    text[3] = UUChar(b[2] & 0x3Fu);
    text[4] = 0;
}

static void DecodeUUGroup(const char* text, unsigned char* b) {
    const unsigned int c0 = UUValue(text[0]);
    const unsigned int c1 = UUValue(text[1]);
    const unsigned int c2 = UUValue(text[2]);
    const unsigned int c3 = UUValue(text[3]);
    b[0] = static_cast<unsigned char>((c0 << 2) | ((c1 >> 4) & 0x03u));
    b[1] = static_cast<unsigned char>((c1 << 4) | ((c2 >> 2) & 0x0Fu));
    b[2] = static_cast<unsigned char>((c2 << 6) | (c3 & 0x3Fu));
}

int TideComm_HexToInt(const char* text, unsigned int length) {
    if (text == nullptr) {
        return 0;
    }
    unsigned int value = 0;
    for (unsigned int i = 0; i < length; ++i) {
        value = (value << 4) | HexDigitValue(static_cast<unsigned char>(text[i]));
    }
    return static_cast<int>(value);
}

void TideComm_IntToHex(const void* data, char* text, int digits) {
    if (text == nullptr) {
        return;
    }
    if (digits <= 0 || data == nullptr) {
        text[0] = 0;
        return;
    }
    const auto* bytes = static_cast<const unsigned char*>(data);
    text[digits] = 0;
    for (int fromEnd = 0; fromEnd < digits; ++fromEnd) {
        const unsigned int byte = bytes[fromEnd / 2];
        const unsigned int nibble = (fromEnd % 2 == 0) ? (byte & 0x0Fu) : (byte >> 4);
        text[digits - 1 - fromEnd] = kHexDigits[nibble];
    }
}

void TideComm_BinToHex(const void* data, char* text, int count, int blanks) {
    if (text == nullptr) {
        return;
    }
    char* out = text;
    if (data != nullptr) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (int i = 0; i < count; ++i) {
            *out++ = kHexDigits[bytes[i] >> 4];
            *out++ = kHexDigits[bytes[i] & 0x0Fu];
            for (int k = 0; i + 1 < count && k < blanks; ++k) {
                *out++ = ' ';
            }
        }
    }
    *out = 0;
}

int TideComm_BinToUUEnCode(const void* bytes, char* text) {
    if (bytes == nullptr || text == nullptr) {
        return 1;
    }
    EncodeUUGroup(static_cast<const unsigned char*>(bytes), text);
    return 0;
}

int TideComm_UUToBinDecode(const char* text, void* bytes) {
    if (text == nullptr || bytes == nullptr) {
        return 1;
    }
    DecodeUUGroup(text, static_cast<unsigned char*>(bytes));
    return 0;
}

int TideComm_HexToUUEnCode(const char* hex, char* text) {
    if (hex == nullptr || text == nullptr) {
        return 1;
    }
    unsigned char b[3];
    for (int i = 0; i < 3; ++i) {
        const unsigned int high = UUHexDigitValue(static_cast<unsigned char>(hex[2 * i]));
        const unsigned int low = UUHexDigitValue(static_cast<unsigned char>(hex[2 * i + 1]));
        b[i] = static_cast<unsigned char>((high << 4) | low);
    }
    EncodeUUGroup(b, text);
    return 0;
}

int TideComm_UUToHexDecode(const char* text, char* hex) {
    if (text == nullptr || hex == nullptr) {
        return 1;
    }
    unsigned char b[3];
    DecodeUUGroup(text, b);
    for (int i = 0; i < 3; ++i) {
        hex[2 * i] = kHexDigits[b[i] >> 4];
        hex[2 * i + 1] = kHexDigits[b[i] & 0x0Fu];
    }
    return 0;
}

int TideComm_PEC(unsigned char* code, unsigned char byte) {
    if (code == nullptr) {
        return -1;
    }
    unsigned int crc = *code;
    unsigned int data = byte;
    for (int bit = 0; bit < 8; ++bit) {
        const bool feedback = ((crc ^ data) & 0x80u) != 0;
        crc = (crc << 1) & 0xFFu;
        if (feedback) {
            crc ^= 0x07u;
        }
        data = (data << 1) & 0xFFu;
    }
    *code = static_cast<unsigned char>(crc);
    return static_cast<int>(crc);
}
