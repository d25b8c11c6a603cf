// The application's frame: start-up, the event loop, the two-step quit and
// the dispatcher of the serial library's comm events.
#pragma once

#include <windows.h>

// 0 after a normal run, -1 when the engine or the panel file cannot be loaded.
int WinMain(HANDLE hInstance, HANDLE hPrevInstance, LPSTR lpszCmdLine, int nCmdShow);
void SystemInit(void);
void SystemQuit(void);

int TimerCB(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int MainQuitCb(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int TideCommOnCommCallback(int port);
