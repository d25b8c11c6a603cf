// Shows a received run in the terminal's receive box.
#pragma once

// Reads TABTERM_DISPLAY, TABTERM_MODE and TABTERM_TIMESTAMP. Returns 0 when
// the display is off: the caller must then leave the run unhandled. In text mode the run is shown
// as text, broken into lines at its line ends, and 1 is returned; in hexadecimal mode nothing is
// shown yet and 2 is returned: the caller handles the reply, then calls
// EchoHexLine so that the echo follows any pop-up of the handler.
int EchoReceivedFrame(const unsigned char* data, int length);
// Shows the run as spaced upper-case digit pairs, 16 bytes to a line.
void EchoHexLine(const unsigned char* data, int length);
// The receive box was cleared: what arrives next starts a new line.
void ClearReceiveEcho(void);

enum { ECHO_NOT_SHOWN = 0, ECHO_TEXT = 1, ECHO_HEX = 2 };
