// Legacy port input. A Linux user program has no I/O port space (ioperm
// needs root and x86), so every address reads as nothing asserted.
#include "rte.h"

int RTE_inp(int /*portAddress*/) {
    return 0;
}
