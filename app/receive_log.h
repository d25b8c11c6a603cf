// Logging of everything the port receives to a file chosen by the operator,
// raw bytes appended as they come, as terminal programs' capture files do.
#pragma once

// TABTERM_LOGFILE: on asks for a file and opens it for appending; off closes it.
int ReceiveLogCB(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);
// Appends a received run to the open log; a write failure closes the log and says so.
void LogReceived(const unsigned char* data, int length);
// The port closed or the program quits: the log is closed and its toggle shows off.
void CloseReceiveLog(void);
