// Entry points: the bracket around asynchronous timer callbacks. The context
// block is the timer's own; the engine marks it so that an unmatched Exit is
// caught, and counts the nesting per thread.
#include <cstdint>
#include <cstring>

#include "rte.h"

namespace {

constexpr std::uint32_t kInCallback = 0x41435458;  // "ACTX"
thread_local int depth = 0;

}  // namespace

int EnterAsyncCallback(void* context) {
    if (context == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    std::memcpy(context, &kInCallback, sizeof kInCallback);
    ++depth;
    return RTE_OK;
}

int ExitAsyncCallback(void* context) {
    std::uint32_t mark = 0;
    if (context != nullptr) {
        std::memcpy(&mark, context, sizeof mark);
    }
    if (mark != kInCallback || depth == 0) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    std::memset(context, 0, sizeof mark);
    --depth;
    return RTE_OK;
}

int RTE_InAsyncCallback(void) {
    return depth > 0 ? 1 : 0;
}
