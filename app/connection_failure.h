// Why a COM port could not be opened, in words the operator can act on.
#pragma once

#include <string>

// "DEVICE：REASON" for COMn: the device the number stands for and why it
// does not open (missing, permission, connection refused, unknown host...).
// The serial library only says that the open failed; the reason is found
// again here by looking at the device without opening it as a port.
std::string PortOpenFailure(int com);
