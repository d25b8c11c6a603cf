// Panel and tab-page handles, the response timer, the worker IDs and the one
// COM port of the session and the terminal.
#pragma once

extern int panelHandle;
extern int ispTabPanel;
extern int termTabPanel;
extern int thirdTabPanel;
extern int opsTabPanel;
extern int opsTab2Panel;

extern int TimerID1;
extern int threadID;
extern int threadID_checkblank;

extern int comport;
