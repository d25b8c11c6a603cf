// Bytes the serial library had to drop because its receive ring was full are
// told to the operator with their count, instead of being lost silently.
#pragma once

// The port's receive error callback (installed when the terminal opens it).
int TerminalReceiveErrorCallback(int port);
