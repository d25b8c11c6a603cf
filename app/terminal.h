// The terminal page: sending once or periodically, clearing, counting.
#pragma once

enum { TXBUFFER_SIZE = 4096 };

// Sends the send box's text (or the bytes its hex digits spell) to port.
void UartSendData(int port);

int SendDataCB(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int SendDataCb(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int TimerIntervalCb(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);
int ReceiveDisplayCB(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
int ClearReceiveBoxCB(int panel, int control, int event, void* callbackData, int eventData1,
                      int eventData2);
int ClearSendBoxCB(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int ClearReceiveCountCB(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
// 加载TXT文件: the chosen text file becomes the send box's text.
int comm_loadfile(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
// With TABTERM_TXTBYLINE on and a file loaded, the periodic send sends its
// next line (with the chosen line ends) instead of the send box.
bool TxtLineByLine(void);
void SendNextTxtLine(int port);
// TABTERM_TXTBYLINE: line-by-line sending starts again at the first line.
int TxtSendModeCB(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int ClearSendCountCB(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
