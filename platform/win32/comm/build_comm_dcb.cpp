// BuildCommDCBA: the mode command's two syntaxes, "baud=9600 parity=N data=8
// stop=1 ..." and "9600,n,8,1[,x|p]". The block changes only on success.
#include <windows.h>

#include <cctype>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::vector<std::string> split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : text) {
        if (c == separator) {
            parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    parts.push_back(part);
    return parts;
}

std::string trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::optional<DWORD> parseNumber(const std::string& text) {
    if (text.empty() || text.size() > 9) {
        return std::nullopt;
    }
    DWORD value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<DWORD>(c - '0');
    }
    return value;
}

// The mode command reads the classic rates by their first two digits.
std::optional<DWORD> parseBaud(const std::string& text) {
    auto value = parseNumber(text);
    if (!value || *value == 0) {
        return std::nullopt;
    }
    switch (*value) {
        case 11:
            return 110;
        case 15:
            return 150;
        case 30:
            return 300;
        case 60:
            return 600;
        case 12:
            return 1200;
        case 24:
            return 2400;
        case 48:
            return 4800;
        case 96:
            return 9600;
        case 19:
            return 19200;
        default:
            return value;
    }
}

std::optional<BYTE> parseParity(const std::string& text) {
    static constexpr std::string_view letters = "noems";  // in NOPARITY.. order
    if (text.size() != 1 || letters.find(text[0]) == std::string_view::npos) {
        return std::nullopt;
    }
    return static_cast<BYTE>(letters.find(text[0]));
}

std::optional<BYTE> parseDataBits(const std::string& text) {
    auto value = parseNumber(text);
    if (!value || *value < 5 || *value > 8) {
        return std::nullopt;
    }
    return static_cast<BYTE>(*value);
}

std::optional<BYTE> parseStopBits(const std::string& text) {
    if (text == "1") {
        return ONESTOPBIT;
    }
    if (text == "1.5") {
        return ONE5STOPBITS;
    }
    if (text == "2") {
        return TWOSTOPBITS;
    }
    return std::nullopt;
}

std::optional<bool> parseOnOff(const std::string& text) {
    if (text == "on") {
        return true;
    }
    if (text == "off") {
        return false;
    }
    return std::nullopt;
}

void setBaud(DCB& dcb, DWORD baud) {
    dcb.BaudRate = baud;
    if (baud == 110) {
        dcb.StopBits = TWOSTOPBITS;
    }
}

void setParity(DCB& dcb, BYTE parity) {
    dcb.Parity = parity;
    dcb.fParity = parity != NOPARITY;
}

void disableFlowControl(DCB& dcb) {
    dcb.fInX = 0;
    dcb.fOutX = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fOutxCtsFlow = 0;
}

// "baud=9600 parity=n data=8 stop=1 xon=off ..."
bool parseKeyValues(const std::string& text, DCB& dcb) {
    disableFlowControl(dcb);
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
    }
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    std::optional<BYTE> stopBits;
    for (const std::string& token : split(text, ' ')) {
        if (token.empty()) {
            continue;
        }
        const auto equals = token.find('=');
        if (equals == std::string::npos) {
            return false;
        }
        const std::string key = token.substr(0, equals);
        const std::string value = token.substr(equals + 1);
        if (key == "baud") {
            auto baud = parseBaud(value);
            if (!baud) {
                return false;
            }
            setBaud(dcb, *baud);
        } else if (key == "parity") {
            auto parity = parseParity(value);
            if (!parity) {
                return false;
            }
            setParity(dcb, *parity);
        } else if (key == "data") {
            auto bits = parseDataBits(value);
            if (!bits) {
                return false;
            }
            dcb.ByteSize = *bits;
        } else if (key == "stop") {
            stopBits = parseStopBits(value);
            if (!stopBits) {
                return false;
            }
        } else if (key == "dtr") {
            if (value == "hs") {
                dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
            } else if (auto on = parseOnOff(value)) {
                dcb.fDtrControl = *on ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
            } else {
                return false;
            }
        } else if (key == "rts") {
            if (value == "hs") {
                dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
            } else if (value == "tg") {
                dcb.fRtsControl = RTS_CONTROL_TOGGLE;
            } else if (auto on = parseOnOff(value)) {
                dcb.fRtsControl = *on ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
            } else {
                return false;
            }
        } else {
            auto on = parseOnOff(value);
            if (!on) {
                return false;
            }
            if (key == "xon") {
                dcb.fInX = *on;
                dcb.fOutX = *on;
            } else if (key == "odsr") {
                dcb.fOutxDsrFlow = *on;
            } else if (key == "octs") {
                dcb.fOutxCtsFlow = *on;
            } else if (key == "idsr") {
                dcb.fDsrSensitivity = *on;
            } else if (key != "to") {  // the write time-out is not part of the block
                return false;
            }
        }
    }
    if (stopBits) {
        dcb.StopBits = *stopBits;
    }
    return true;
}

// "9600,n,8,1" with an optional fifth field: x (XON/XOFF) or p (hardware).
bool parsePositional(const std::string& text, DCB& dcb) {
    auto fields = split(text, ',');
    if (fields.size() > 5) {
        return false;
    }
    for (auto& field : fields) {
        field = trimmed(field);
    }
    fields.resize(5);
    if (!fields[0].empty()) {
        auto baud = parseBaud(fields[0]);
        if (!baud) {
            return false;
        }
        setBaud(dcb, *baud);
    }
    if (!fields[1].empty()) {
        auto parity = parseParity(fields[1]);
        if (!parity) {
            return false;
        }
        setParity(dcb, *parity);
    }
    if (!fields[2].empty()) {
        auto bits = parseDataBits(fields[2]);
        if (!bits) {
            return false;
        }
        dcb.ByteSize = *bits;
    }
    if (!fields[3].empty()) {
        auto stop = parseStopBits(fields[3]);
        if (!stop) {
            return false;
        }
        dcb.StopBits = *stop;
    }
    disableFlowControl(dcb);
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (fields[4] == "x") {
        dcb.fInX = 1;
        dcb.fOutX = 1;
    } else if (fields[4] == "p") {
        dcb.fOutxDsrFlow = 1;
        dcb.fOutxCtsFlow = 1;
        dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
    } else if (!fields[4].empty()) {
        return false;
    }
    return true;
}

// Drops a leading "COMn" or "COMn:" device name.
std::string withoutDevice(std::string text) {
    text = trimmed(text);
    if (text.size() < 4 || text.compare(0, 3, "com") != 0 || !std::isdigit(text[3])) {
        return text;
    }
    std::size_t end = 3;
    while (end < text.size() && std::isdigit(static_cast<unsigned char>(text[end]))) {
        ++end;
    }
    if (end < text.size() && text[end] == ':') {
        ++end;
    }
    return trimmed(text.substr(end));
}

}  // namespace

BOOL WINAPI BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB) {
    if (lpDef == nullptr || lpDCB == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string text = withoutDevice(lowered(lpDef));
    DCB dcb = *lpDCB;
    const bool parsed = text.find('=') != std::string::npos ? parseKeyValues(text, dcb)
                                                            : parsePositional(text, dcb);
    if (!parsed) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *lpDCB = dcb;
    return TRUE;
}
