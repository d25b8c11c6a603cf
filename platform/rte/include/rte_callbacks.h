// The registry through which a panel file's callback names become functions.
// The application registers every callback its panel file names before
// LoadPanel; a name the registry lacks makes LoadPanel fail with a message
// that names it.
#pragma once

#include "rte.h"

// Registers (or replaces) the control callback known by name. Returns 0, or
// RTE_ERR_BAD_ARGUMENT for an empty name or a null function.
int RTE_RegisterCallback(const char* name, CtrlCallbackPtr function);
// The callback registered under name, or null.
CtrlCallbackPtr RTE_FindCallback(const char* name);
// The name a callback was registered under ("" when unknown). For front ends
// and diagnostics.
const char* RTE_CallbackName(CtrlCallbackPtr function);
