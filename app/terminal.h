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
int ClearSendCountCB(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
