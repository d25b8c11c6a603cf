#include "comm/tty_line.h"

#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdlib>

namespace chipload::win32::comm {
namespace {

constexpr unsigned kBaudTolerancePercent = 3;

DWORD errnoToError(int error) {
    return error == EINVAL ? ERROR_INVALID_PARAMETER
                           : (error == EIO ? ERROR_BAD_COMMAND : ERROR_GEN_FAILURE);
}

tcflag_t sizeFlag(BYTE byteSize) {
    switch (byteSize) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        default:
            return CS8;
    }
}

BYTE byteSizeOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5:
            return 5;
        case CS6:
            return 6;
        case CS7:
            return 7;
        default:
            return 8;
    }
}

tcflag_t parityFlags(BYTE parity) {
    switch (parity) {
        case ODDPARITY:
            return PARENB | PARODD;
        case EVENPARITY:
            return PARENB;
        case MARKPARITY:
            return PARENB | CMSPAR | PARODD;
        case SPACEPARITY:
            return PARENB | CMSPAR;
        default:
            return 0;
    }
}

BYTE parityOf(tcflag_t cflag) {
    if ((cflag & PARENB) == 0) {
        return NOPARITY;
    }
    const bool odd = (cflag & PARODD) != 0;
    if ((cflag & CMSPAR) != 0) {
        return odd ? MARKPARITY : SPACEPARITY;
    }
    return odd ? ODDPARITY : EVENPARITY;
}

bool closeEnough(speed_t actual, DWORD wanted) {
    const auto difference = std::labs(static_cast<long>(actual) - static_cast<long>(wanted));
    return static_cast<unsigned long>(difference) * 100 <=
           static_cast<unsigned long>(wanted) * kBaudTolerancePercent;
}

DWORD setLine(int fd, int line, bool raised) {
    if (ioctl(fd, raised ? TIOCMBIS : TIOCMBIC, &line) != 0) {
        return errnoToError(errno);
    }
    return ERROR_SUCCESS;
}

// RTS_CONTROL_TOGGLE is RS-485 direction control: RTS up while sending.
DWORD setRtsToggle(int fd, bool on) {
    serial_rs485 rs485{};
    if (ioctl(fd, TIOCGRS485, &rs485) != 0) {
        return on ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    }
    const bool enabled = (rs485.flags & SER_RS485_ENABLED) != 0;
    if (enabled == on) {
        return ERROR_SUCCESS;
    }
    rs485.flags = on ? (rs485.flags | SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND) &
                           ~static_cast<__u32>(SER_RS485_RTS_AFTER_SEND)
                     : rs485.flags & ~static_cast<__u32>(SER_RS485_ENABLED);
    return ioctl(fd, TIOCSRS485, &rs485) == 0 ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
}

DWORD applyModemLines(int fd, const DCB& dcb) {
    if (DWORD error = setRtsToggle(fd, dcb.fRtsControl == RTS_CONTROL_TOGGLE);
        error != ERROR_SUCCESS) {
        return error;
    }
    if (DWORD error = setLine(fd, TIOCM_DTR, dcb.fDtrControl == DTR_CONTROL_ENABLE);
        error != ERROR_SUCCESS) {
        return error;
    }
    if (dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_DISABLE) {
        return setLine(fd, TIOCM_RTS, dcb.fRtsControl == RTS_CONTROL_ENABLE);
    }
    return ERROR_SUCCESS;
}

}  // namespace

DWORD makeRaw(int fd) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return errnoToError(errno);
    }
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL |
                                        IXON | IXOFF | IXANY | INPCK | IGNPAR | IMAXBEL);
    t.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return ioctl(fd, TCSETS2, &t) == 0 ? ERROR_SUCCESS : errnoToError(errno);
}

DWORD readLineSettings(int fd, bool hasModemLines, DCB& dcb) {
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0) {
        return errnoToError(errno);
    }
    dcb.BaudRate = t.c_ospeed;
    dcb.ByteSize = byteSizeOf(t.c_cflag);
    dcb.Parity = parityOf(t.c_cflag);
    dcb.fParity = (t.c_iflag & INPCK) != 0;
    if ((t.c_cflag & CSTOPB) != 0) {
        dcb.StopBits = dcb.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    } else {
        dcb.StopBits = ONESTOPBIT;
    }
    const bool hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    dcb.fOutxCtsFlow = hardwareFlow;
    dcb.fOutX = (t.c_iflag & IXON) != 0;
    dcb.fInX = (t.c_iflag & IXOFF) != 0;
    dcb.XonChar = static_cast<char>(t.c_cc[VSTART]);
    dcb.XoffChar = static_cast<char>(t.c_cc[VSTOP]);
    int lines = 0;
    if (hasModemLines && ioctl(fd, TIOCMGET, &lines) == 0) {
        dcb.fDtrControl = (lines & TIOCM_DTR) != 0 ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
        dcb.fRtsControl =
            hardwareFlow ? RTS_CONTROL_HANDSHAKE
                         : ((lines & TIOCM_RTS) != 0 ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE);
    }
    return ERROR_SUCCESS;
}

DWORD applyLineSettings(int fd, bool hasModemLines, const DCB& dcb) {
    // Linux has no DSR flow control and no DTR handshake.
    if (dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) {
        return ERROR_INVALID_PARAMETER;
    }
    termios2 previous{};
    if (ioctl(fd, TCGETS2, &previous) != 0) {
        return errnoToError(errno);
    }
    termios2 t = previous;
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | PARODD |
                                        CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT) | sizeFlag(dcb.ByteSize) | parityFlags(dcb.Parity);
    if (dcb.StopBits != ONESTOPBIT) {
        t.c_cflag |= CSTOPB;  // 1.5 stop bits with 5 data bits, else 2
    }
    // Linux ties both directions of hardware flow control to one flag.
    if (dcb.fOutxCtsFlow || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE) {
        t.c_cflag |= CRTSCTS;
    }
    t.c_ispeed = dcb.BaudRate;
    t.c_ospeed = dcb.BaudRate;
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY);
    if (dcb.fParity && dcb.Parity != NOPARITY) {
        t.c_iflag |= INPCK;
    }
    if (dcb.fOutX) {
        t.c_iflag |= IXON;
    }
    if (dcb.fInX) {
        t.c_iflag |= IXOFF;
    }
    t.c_cc[VSTART] = static_cast<cc_t>(dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(dcb.XoffChar);
    if (ioctl(fd, TCSETS2, &t) != 0) {
        return errnoToError(errno);
    }
    termios2 applied{};
    if (ioctl(fd, TCGETS2, &applied) != 0 || !closeEnough(applied.c_ospeed, dcb.BaudRate)) {
        ioctl(fd, TCSETS2, &previous);
        return ERROR_INVALID_PARAMETER;
    }
    if (hasModemLines) {
        if (DWORD error = applyModemLines(fd, dcb); error != ERROR_SUCCESS) {
            ioctl(fd, TCSETS2, &previous);
            return error;
        }
    } else if (dcb.fRtsControl == RTS_CONTROL_TOGGLE) {
        ioctl(fd, TCSETS2, &previous);
        return ERROR_INVALID_PARAMETER;  // direction control needs a real RTS line
    }
    return ERROR_SUCCESS;
}

}  // namespace chipload::win32::comm
