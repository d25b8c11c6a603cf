// Opening the port for the terminal or for the bootloader, and the DTR/RTS keys.
#pragma once

int TideCommOpenCloseCB(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
int DeveiceConnect(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int DTRCTRLCB(int panel, int control, int event, void* callbackData, int eventData1,
              int eventData2);
int RTSCTRLCB(int panel, int control, int event, void* callbackData, int eventData1,
              int eventData2);

// The next press of the connect button connects; no port chosen.
void ResetConnectionState(void);
