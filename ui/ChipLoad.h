// Panel and control IDs of ChipLoad.uir, and the callbacks it names.
// Keep in step with ChipLoad.uir: a test compares the two.
#pragma once

// Panels: the main panel, then the tab pages (each gets a handle of its own
// from GetPanelHandleFromTabPage).
#define PANEL 1     // main window
#define TABISP 2    // PANEL_TAB page 0: ISP
#define TABTERM 3   // PANEL_TAB page 1: serial terminal
#define TABTHIRD 4  // PANEL_TAB page 2: about
#define TABOPS 5    // TABISP_TAB page 0: ISP operations
#define TABOPS2 6   // TABISP_TAB page 1: instructions

// PANEL
#define PANEL_TAB 2         // tab control, 3 pages
#define PANEL_STATUS 4      // string: status line
#define PANEL_TIME 7        // string: clock
#define PANEL_COMPORT 10    // numeric: COM port 1-10
#define PANEL_BAUDRATE 12   // numeric
#define PANEL_DATABITS 13   // numeric
#define PANEL_PARITY 14     // ring: 0 none, 1 odd, 2 even, 3 mark, 4 space
#define PANEL_STOPBITS 15   // numeric: stop bits, 1 or 2
#define PANEL_CDLED 17      // LED
#define PANEL_DSRLED 18     // LED
#define PANEL_CTSLED 19     // LED
#define PANEL_RINGLED 20    // LED
#define PANEL_DTRLED 21     // LED
#define PANEL_RTSLED 23     // LED
#define PANEL_OPENLED 25    // LED
#define PANEL_OPENCLOSE 26  // toggle, callback TideCommOpenCloseCB
#define PANEL_DTR 27        // toggle, callback DTRCTRLCB
#define PANEL_RTS 28        // toggle, callback RTSCTRLCB
#define PANEL_CONNECT 32    // command button, callback DeveiceConnect
#define PANEL_QUIT 33       // command button, callback MainQuitCb (as is the window's close)
#define PANEL_CLOCK 34      // timer, callback TimerCB
#define PANEL_COMDEVICE 80  // string: the device PANEL_COMPORT stands for
#define PANEL_ADAPTER 81    // ring: plugged adapters, each item's value its COM number

// TABISP
#define TABISP_HEXPATH 2   // string: program file path
#define TABISP_TAB 4       // tab control, 2 pages
#define TABISP_FILETYPE 5  // numeric: 0 Intel HEX, 1 raw binary
#define TABISP_FILESIZE 6  // string: size in KB
#define TABISP_LOADFILE 7  // command button, callback loadFile
#define TABISP_SAVEFILE 8  // command button, callback saveFile

// TABTERM
#define TABTERM_RECEIVE 2        // text box: received data
#define TABTERM_SEND 5           // text box: data to send
#define TABTERM_SENDHEX 6        // switch
#define TABTERM_ADDLF 8          // switch
#define TABTERM_ADDCR 9          // switch
#define TABTERM_TXTPATH 10       // string: text file path
#define TABTERM_AUTOSEND 12      // switch
#define TABTERM_INTERVAL 14      // numeric (double, seconds), callback TimerIntervalCb
#define TABTERM_MODE 17          // numeric: input mode, 1 hexadecimal
#define TABTERM_DISPLAYLED 19    // LED
#define TABTERM_DISPLAY 20       // switch, callback ReceiveDisplayCB
#define TABTERM_RXCOUNT 25       // numeric
#define TABTERM_TXCOUNT 26       // numeric
#define TABTERM_RXLED 27         // LED
#define TABTERM_TXLED 28         // LED
#define TABTERM_TIMER 29         // timer, callback SendDataCb
#define TABTERM_CLEARRECEIVE 30  // command button, callback ClearReceiveBoxCB
#define TABTERM_SENDBUTTON 31    // command button, callback SendDataCB
#define TABTERM_CLEARSEND 32     // command button, callback ClearSendBoxCB
#define TABTERM_CLEARRXCOUNT 33  // command button, callback ClearReceiveCountCB
#define TABTERM_CLEARTXCOUNT 34  // command button, callback ClearSendCountCB
#define TABTERM_LOADTXT 35       // command button, callback comm_loadfile
#define TABTERM_TIMESTAMP 70     // switch: each received line starts with its time
#define TABTERM_LOGFILE 71       // toggle, callback ReceiveLogCB: received bytes to a file
#define TABTERM_TXTBYLINE 72     // switch, callback TxtSendModeCB: periodic send line by line

// TABTHIRD
#define TABTHIRD_VERSION 2  // string: the program's version

// TABOPS
#define TABOPS_CHIP 3             // ring: flash-size class 0-7
#define TABOPS_PID 4              // string
#define TABOPS_UID 5              // string
#define TABOPS_VERSION 6          // string
#define TABOPS_STARTPAGE 18       // numeric, callback set_page_addr
#define TABOPS_ENDPAGE 19         // numeric, callback set_page_addr
#define TABOPS_LOG 28             // text box: ISP log
#define TABOPS_PROGRESS 29        // numeric (progress bar)
#define TABOPS_RAMSIZE 30         // string
#define TABOPS_FLASHSIZE 31       // string
#define TABOPS_CHIPERASE 32       // command button, callback chip_erase
#define TABOPS_PAGEERASE 33       // command button, callback page_erase
#define TABOPS_WRITE 34           // command button, callback FlashWrite
#define TABOPS_GO 35              // command button, callback flashExcute
#define TABOPS_CHIPREAD 36        // command button, callback chip_read
#define TABOPS_PAGEREAD 37        // command button, callback page_read
#define TABOPS_CHECKBLANK 38      // command button, callback check_blank
#define TABOPS_CLEARLOG 39        // command button, callback flash_op_clear
#define TABOPS_DEVICE 40          // string: the identified part's name
#define TABOPS_READUNPROTECT 60   // command button, callback read_unprotect
#define TABOPS_WRITEUNPROTECT 61  // command button, callback write_unprotect
#define TABOPS_VERIFY 62          // toggle: read back and compare after programming

// Callbacks the panel file names; register each with RTE_RegisterCallback
// before LoadPanel.
int MainQuitCb(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int TimerCB(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int TideCommOpenCloseCB(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
int DTRCTRLCB(int panel, int control, int event, void* callbackData, int eventData1,
              int eventData2);
int RTSCTRLCB(int panel, int control, int event, void* callbackData, int eventData1,
              int eventData2);
int DeveiceConnect(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int ClearReceiveBoxCB(int panel, int control, int event, void* callbackData, int eventData1,
                      int eventData2);
int ClearSendBoxCB(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int ReceiveDisplayCB(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
int ClearReceiveCountCB(int panel, int control, int event, void* callbackData, int eventData1,
                        int eventData2);
int ClearSendCountCB(int panel, int control, int event, void* callbackData, int eventData1,
                     int eventData2);
int SendDataCB(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int SendDataCb(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int TimerIntervalCb(int panel, int control, int event, void* callbackData, int eventData1,
                    int eventData2);
int comm_loadfile(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int ReceiveLogCB(int panel, int control, int event, void* callbackData, int eventData1,
                 int eventData2);
int TxtSendModeCB(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int loadFile(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int saveFile(int panel, int control, int event, void* callbackData, int eventData1, int eventData2);
int chip_erase(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int chip_read(int panel, int control, int event, void* callbackData, int eventData1,
              int eventData2);
int FlashWrite(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int flashExcute(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
int flash_op_clear(int panel, int control, int event, void* callbackData, int eventData1,
                   int eventData2);
int set_page_addr(int panel, int control, int event, void* callbackData, int eventData1,
                  int eventData2);
int page_read(int panel, int control, int event, void* callbackData, int eventData1,
              int eventData2);
int page_erase(int panel, int control, int event, void* callbackData, int eventData1,
               int eventData2);
int check_blank(int panel, int control, int event, void* callbackData, int eventData1,
                int eventData2);
