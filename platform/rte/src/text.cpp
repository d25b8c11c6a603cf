// Entry points: Fmt, StringUpperCase, TimeStr.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "rte.h"

namespace {

// Formats one source specifier (spec holds "%", flags, width, precision and
// the conversion) with printf, taking its argument from args.
bool FormatOne(const std::string& spec, char conversion, std::va_list& args, std::string& out) {
    char buffer[512];
    int n;
    switch (conversion) {
        case 's': {
            const char* s = va_arg(args, const char*);
            if (s == nullptr) {
                s = "";
            }
            if (spec == "%s") {  // the common case, of any length
                out += s;
                return true;
            }
            n = std::snprintf(buffer, sizeof buffer, spec.c_str(), s);
            break;
        }
        case 'd':
        case 'i':
        case 'c':
            n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, int));
            break;
        case 'u':
        case 'x':
        case 'X':
            n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, unsigned int));
            break;
        case 'f':
        case 'e':
        case 'g':
            n = std::snprintf(buffer, sizeof buffer, spec.c_str(), va_arg(args, double));
            break;
        default:
            return false;
    }
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof buffer) {
        return false;
    }
    out.append(buffer, static_cast<std::size_t>(n));
    return true;
}

}  // namespace

int FmtV(char* target, std::size_t targetSize, const char* format, std::va_list args) {
    if (target == nullptr || targetSize == 0 || format == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    target[0] = '\0';
    if (std::strncmp(format, "%s<", 3) != 0) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    std::va_list ap;
    va_copy(ap, args);
    std::string out;
    bool ok = true;
    for (const char* p = format + 3; *p != '\0' && ok; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            ++p;
            continue;
        }
        const char* start = p++;
        while (*p != '\0' && std::strchr("-+ #0", *p) != nullptr) {
            ++p;
        }
        while (*p >= '0' && *p <= '9') {
            ++p;
        }
        if (*p == '.') {
            ++p;
            while (*p >= '0' && *p <= '9') {
                ++p;
            }
        }
        if (*p == '\0' || p - start > 16) {
            ok = false;
            break;
        }
        ok = FormatOne(std::string(start, static_cast<std::size_t>(p - start + 1)), *p, ap, out);
    }
    va_end(ap);
    if (!ok) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    const std::size_t n = std::min(out.size(), targetSize - 1);
    std::memcpy(target, out.data(), n);
    target[n] = '\0';
    return n < out.size() ? RTE_ERR_BUFFER_TOO_SMALL : static_cast<int>(n);
}

int FmtN(char* target, std::size_t targetSize, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int written = FmtV(target, targetSize, format, args);
    va_end(args);
    return written;
}

void StringUpperCase(char* text) {
    if (text == nullptr) {
        return;
    }
    for (char* p = text; *p != '\0'; ++p) {
        if (*p >= 'a' && *p <= 'z') {
            *p = static_cast<char>(*p - 'a' + 'A');
        }
    }
}

char* TimeStr(void) {
    thread_local char text[16];
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}
