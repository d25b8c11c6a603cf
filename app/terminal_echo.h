// Shows a received run in the terminal's receive box.
#pragma once

// Reads TABTERM_DISPLAY and TABTERM_MODE. Returns 0 when the run is not shown
// (display off or a run longer than the port's input length): the caller must
// then leave it unhandled. In text mode the run is shown as text (without the
// carriage returns and line feeds that end it) and 1 is returned; in hexadecimal mode nothing is
// shown yet and 2 is returned: the caller handles the reply, then calls
// EchoHexLine so that the echo follows any pop-up of the handler.
int EchoReceivedFrame(int port, const unsigned char* data, int length);
// Appends the run as one line of upper-case digit pairs.
void EchoHexLine(const unsigned char* data, int length);

enum { ECHO_NOT_SHOWN = 0, ECHO_TEXT = 1, ECHO_HEX = 2 };
