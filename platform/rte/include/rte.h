// The run-time engine services the application calls: panels and controls,
// the event loop, pop-ups, deferred calls, the thread pool, locks, files,
// text helpers and the engine timer service.
//
// Threads. The user-interface thread is the thread that calls
// RunUserInterface. Control callbacks, timer-control ticks and deferred calls
// run there, one at a time, in posting order, never nested inside one
// another. Every other entry point may be called from any thread: control
// values and attributes live in a model behind a mutex, and the front end is
// told of each change and redraws on its own thread.
//
// Results. Unless a function says otherwise it returns 0 (or a handle) on
// success and one of the negative RTE_ERR_ codes below on failure.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// ---------------------------------------------------------------------------
// Results

enum {
    RTE_OK = 0,
    RTE_ERR_FAILED = -1,            // an operating-system call failed
    RTE_ERR_BAD_PANEL = -2,         // no live panel has this handle
    RTE_ERR_BAD_CONTROL = -3,       // the panel has no control with this ID
    RTE_ERR_BAD_ATTRIBUTE = -4,     // the attribute does not apply to this control
    RTE_ERR_BAD_VALUE_TYPE = -5,    // int/double/string does not fit the control or attribute
    RTE_ERR_BAD_ARGUMENT = -6,      // null pointer, value not among a ring's items, ...
    RTE_ERR_BUFFER_TOO_SMALL = -7,  // the text was cut to fit; the buffer holds a terminated prefix
    RTE_ERR_FILE_NOT_FOUND = -8,    // the panel file was found nowhere (see RTE_GetLastErrorText)
    RTE_ERR_BAD_PANEL_FILE = -9,    // the panel file is malformed (see RTE_GetLastErrorText)
    RTE_ERR_UNKNOWN_CALLBACK = -10,  // the panel file names a callback nobody registered
    RTE_ERR_BAD_HANDLE = -11,       // no live thread-pool function, lock, file or timer has this ID
    RTE_ERR_NOT_INITIALIZED = -12,  // InitRTEEx has not run
    RTE_ERR_WRONG_THREAD = -13,     // only the user-interface thread may do this
    RTE_ERR_PATH_TOO_LONG = -14,    // a chosen path does not fit the caller's buffer
};

// The text of the last failure of LoadPanel or InitRTEEx, in the process
// (empty when none). It says what is wrong and where, e.g.
// "ChipLoad.uir: line 12, column 5: expected ':'". It is also printed on stderr.
const char* RTE_GetLastErrorText(void);

// ---------------------------------------------------------------------------
// Callback types and events

// Control callback: (panel, control, event, callback data, event data 1,
// event data 2) -> 0. Timer-control ticks pass 0 and 0 as event data.
typedef int (*CtrlCallbackPtr)(int panel, int control, int event, void* callbackData,
                               int eventData1, int eventData2);
// Deferred call: runs later on the user-interface thread.
typedef void (*DeferredCallbackPtr)(void* callbackData);
// Thread-pool function; its result is kept until the ID is released.
typedef int (*ThreadFunctionPtr)(void* functionData);

enum {
    EVENT_NONE = 0,
    EVENT_COMMIT = 1,      // the operator changed a control's value or pressed a button
    EVENT_LEFT_CLICK = 3,  // a left click on a control (delivered before the commit)
    EVENT_TIMER_TICK = 15,
    EVENT_DISCARD = 16,
};

// ---------------------------------------------------------------------------
// Start, panels and the event loop

// Starts the engine with the installed front end (rte_frontend.h); when none
// is installed, the headless front end with its default options is used.
// Returns 1 on success, 0 on failure. Calling it again is harmless.
// instance, argv and reserved are accepted for the program's sake and unused.
int InitRTEEx(void* instance, char** argv, void* reserved);

// Stops the engine: discards every panel and pending event, stops timer
// controls and forgets the front end, so that InitRTEEx may start it again
// (the program never calls it; tests do between runs). The thread pool, locks,
// open files and engine timers are left alone.
void RTE_CloseEngine(void);

// Loads panel panelResourceId (the panel's number in the file, e.g. PANEL 1)
// from a panel file (JSON, format described in ui/README.md), binding every
// callback it names from the registry of rte_callbacks.h. A relative file
// name is looked for beside the executable, then in the install's data folder
// (../share/chipload from the executable, then <prefix>/share/chipload). Returns the panel handle
// (> 0), or RTE_ERR_FILE_NOT_FOUND, RTE_ERR_BAD_PANEL_FILE, RTE_ERR_UNKNOWN_CALLBACK or
// RTE_ERR_BAD_ARGUMENT (no such panel in the file); the message is then on
// stderr and in RTE_GetLastErrorText. parentPanel must be 0 (top level).
// Each tab page of the panel becomes a panel of its own with its own handle.
int LoadPanel(int parentPanel, const char* fileName, int panelResourceId);
int DisplayPanel(int panel);
// Discards a top-level panel and its tab pages; events still queued for them
// are dropped. No callback is called (no EVENT_DISCARD is delivered).
int DiscardPanel(int panel);
// The handle of page pageIndex (0 first) of tab control tabControl.
int GetPanelHandleFromTabPage(int panel, int tabControl, int pageIndex, int* pageHandle);
// The control that has the keyboard focus when the panel shows (or now, when
// it shows already). RTE_ERR_BAD_CONTROL for one the operator cannot act on
// (a timer or a decoration).
int SetActiveCtrl(int panel, int control);
// 0 until SetActiveCtrl named one.
int GetActiveCtrl(int panel);

// Runs the event loop on the calling thread, which becomes the
// user-interface thread, until QuitUserInterface; returns its code.
int RunUserInterface(void);
// Ends RunUserInterface once the running callback (if any) returns; events
// still queued stay queued. Callable from any thread; called while no loop
// runs, it ends the next RunUserInterface at once.
int QuitUserInterface(int returnCode);
// On the user-interface thread, outside a callback: runs every pending event
// (used while RunUserInterface is not running, e.g. by
// CmtWaitForThreadPoolFunctionCompletion after it returned). Inside a callback
// it only lets the front end redraw: callbacks never nest. While a pop-up is
// open, events wait. On any other thread it sleeps about 1 ms, so polling
// worker loops never burn a core.
int ProcessSystemEvents(void);
// Runs function(data) later on the user-interface thread, after everything
// posted before it.
int PostDeferredCall(DeferredCallbackPtr function, void* callbackData);

// ---------------------------------------------------------------------------
// Controls

// Values. Numeric controls (int or double), rings (the value of an item),
// LEDs, toggles and switches (0/1) take int or double; string controls and
// text boxes take text (a text box's text replaces its lines, split at '\n').
// The engine stores what it is given: minimum and maximum limit the
// operator's entry in the front end, not the program. A ring refuses a value
// none of its items has (RTE_ERR_BAD_ARGUMENT).
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, unsigned int value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const char* value);
// Reading a double control as int rounds to nearest; a text box reads as its
// lines joined by '\n'. String reads copy at most size-1 bytes and always
// terminate; a longer text returns RTE_ERR_BUFFER_TOO_SMALL (the prefix is kept).
int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, unsigned int* value);
int GetCtrlVal(int panel, int control, double* value);
int GetCtrlVal(int panel, int control, char* value, std::size_t size);
// The length in bytes of a string control's text or a text box's joined text.
int GetCtrlValStringLength(int panel, int control, int* length);

// Attributes.
enum {
    ATTR_DIMMED = 500,                     // int 0/1: greyed out, takes no operator input
    ATTR_CALLBACK_FUNCTION_POINTER = 513,  // CtrlCallbackPtr; null removes the callback
    ATTR_VISIBLE = 530,                    // int 0/1
    ATTR_CTRL_INDEX = 620,                 // ring: int, index of the selected item (0 first)
    ATTR_LABEL_TEXT = 641,                 // text: caption (a command button's text)
    ATTR_MAX_VALUE = 730,                  // numeric: int or double
    ATTR_MIN_VALUE = 731,                  // numeric: int or double
    ATTR_FIRST_VISIBLE_LINE = 790,         // text box: int, 0 first; >= line count shows the end
    ATTR_INTERVAL = 1270,                  // timer control: double, seconds (>= 0.001 used)
    ATTR_ENABLED = 1271,                   // timer control: int 0/1, ticks delivered while 1
    ATTR_TABS_VISIBLE = 2202,              // tab control: int 0/1, whether its tabs are shown
};
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, unsigned int value);
int SetCtrlAttribute(int panel, int control, int attribute, double value);
int SetCtrlAttribute(int panel, int control, int attribute, const char* value);
int SetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);
int GetCtrlAttribute(int panel, int control, int attribute, double* value);
int GetCtrlAttribute(int panel, int control, int attribute, char* value, std::size_t size);
int GetCtrlAttribute(int panel, int control, int attribute, CtrlCallbackPtr* value);

// Rings: their list of items. ClearListCtrl empties it (the value reads 0,
// ATTR_CTRL_INDEX -1). InsertListItem puts an item before itemIndex (-1 or
// past the end appends); the selection stays on its item, and the first item
// of an empty ring is selected. RTE_ERR_BAD_CONTROL for a control that is no ring.
int ClearListCtrl(int panel, int control);
int InsertListItem(int panel, int control, int itemIndex, const char* itemLabel, int itemValue);
int GetNumListItems(int panel, int control, int* count);

// Text boxes. lineIndex -1 (or >= the count) appends; otherwise the line is
// inserted before that line.
int InsertTextBoxLine(int panel, int control, int lineIndex, const char* text);
int GetNumTextBoxLines(int panel, int control, int* count);
// Replace or remove the line at lineIndex; RTE_ERR_BAD_ARGUMENT when there is none.
int ReplaceTextBoxLine(int panel, int control, int lineIndex, const char* text);
int DeleteTextBoxLines(int panel, int control, int firstLine, int count);
// Replaces the text box's contents by text (split at '\n'); "" clears it.
int ResetTextBox(int panel, int control, const char* text);
// Keeps text as the newest entry of a string's or text box's input history,
// which the operator walks with the up and down keys.
int AddCtrlHistory(int panel, int control, const char* text);

// ---------------------------------------------------------------------------
// Modal pop-ups. Callable from any thread: the front end shows them on its
// own thread and the caller blocks until they are answered. While one is
// open, queued events and deferred calls wait.

int MessagePopup(const char* title, const char* message);

// Button labels may carry "__X": the letter after the double underscore is
// the button's shortcut (the underscores are not shown). An empty or null
// label means no such button. activeControl is the button (1-3) that has the
// focus at first (0: the first); enterButton and escapeButton are the buttons
// (1-3) the Enter and Escape keys press, 0 for none. responseBuffer (may be
// null) receives at most maxResponseLength characters typed by the operator
// and a terminating zero, when the front end offers an entry field (it does when responseBuffer is
// not null and maxResponseLength > 0). Returns the button pressed, 1 for the
// first, or 0 when the pop-up was closed without a button.
int GenericMessagePopup(const char* title, const char* message, const char* button1Label,
                        const char* button2Label, const char* button3Label, char* responseBuffer,
                        int maxResponseLength, int buttonAlignment, int activeControl,
                        int enterButton, int escapeButton);

enum { RTE_MAX_PATHNAME_LEN = 260 };
enum {
    VAL_NO_FILE_SELECTED = 0,
    VAL_EXISTING_FILE_SELECTED = 1,
    VAL_NEW_FILE_SELECTED = 2,
};
// defaultFileSpec is a pattern such as "*.hex"; fileTypeList a ';'-separated
// list of patterns offered. buttonLabel: 1 "保存", 2 "打开", other "确定".
// Writes the chosen path (UTF-8, absolute) into pathName, which holds
// pathNameSize bytes. Returns VAL_NO_FILE_SELECTED, VAL_EXISTING_FILE_SELECTED
// or VAL_NEW_FILE_SELECTED, or RTE_ERR_PATH_TOO_LONG (pathName then "").
// Treat any result <= 0 as nothing chosen.
int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName,
                    std::size_t pathNameSize = RTE_MAX_PATHNAME_LEN);

// ---------------------------------------------------------------------------
// Files. Handles are > 0. Text is never translated (Linux has no text mode).

enum { RTE_FILE_READ = 1, RTE_FILE_WRITE = 2, RTE_FILE_READ_WRITE = 3 };       // action
enum { RTE_FILE_APPEND = 0, RTE_FILE_TRUNCATE = 1, RTE_FILE_OPEN_AS_IS = 2 };  // write mode
enum { RTE_FILE_BINARY = 0, RTE_FILE_ASCII = 1 };                              // type
// Returns a handle > 0, or -1 when the file cannot be opened. Writing
// actions create a missing file.
int RTE_OpenFile(const char* path, int action, int writeMode, int type);
// Returns the bytes read (0 at end of file), or -1.
int RTE_ReadFile(int handle, char* buffer, int count);
// Reads one line. A line ends at "\n", "\r\n" or a lone "\r"; the end is not
// stored. At most maximum characters are stored and the text is terminated,
// so the buffer holds maximum + 1 bytes; the rest of a longer line is
// skipped. Returns the full length of the line (larger than maximum when it
// was cut), -2 at end of file (nothing left to read), -1 on a read error or a
// negative maximum (there is no "unlimited").
int ReadLine(int handle, char* buffer, int maximum);
int RTE_CloseFile(int handle);
// Returns 1 and the size in bytes when the file exists, 0 when it does not
// (size 0), -1 on other errors.
int GetFileInfo(const char* path, long* fileSize);

// ---------------------------------------------------------------------------
// Text

// Fmt(target, format, sources...): format is "%s<" followed by a source
// format whose specifiers take one argument each, in order: %s (text),
// %i/%d (int), %u (unsigned), %x/%X (unsigned hex), %c (char), %f/%e/%g
// (double), each with optional printf flags, width and precision, and "%%".
// Other characters are copied. "%s<%s%s%s" concatenates; "%s<%i%s" writes a
// decimal then a text. The target is an array, whose size the compiler
// knows; for a pointer use FmtN. Returns the length written, or
// RTE_ERR_BAD_ARGUMENT for an unknown format (target "") or
// RTE_ERR_BUFFER_TOO_SMALL (target holds the terminated prefix).
int FmtN(char* target, std::size_t targetSize, const char* format, ...);
int FmtV(char* target, std::size_t targetSize, const char* format, std::va_list args);
template <std::size_t N>
int Fmt(char (&target)[N], const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    const int written = FmtV(target, N, format, args);
    va_end(args);
    return written;
}
// Upper-cases ASCII letters in place; other bytes (UTF-8 included) stay.
void StringUpperCase(char* text);
// The local time of day, "HH:MM:SS" (24-hour), in a buffer of the calling
// thread that the next call overwrites.
char* TimeStr(void);

// ---------------------------------------------------------------------------
// Other

// Rings the front end's bell (the headless front end counts beeps).
void RTE_Beep(void);
// A Linux program has no legacy I/O port space: every address reads 0
// (no modem line asserted).
int RTE_inp(int portAddress);
// The main window's native handle (X11 window ID under Qt), 0 headless.
std::intptr_t GetRTEWindowHandle(void);

// ---------------------------------------------------------------------------
// Thread pool. The default pool (-1) runs each scheduled function on a thread
// of its own, so long-running functions never starve each other.

enum { DEFAULT_THREAD_POOL_HANDLE = -1 };
enum { OPT_TP_PROCESS_EVENTS_WHILE_WAITING = 1 };
int CmtScheduleThreadPoolFunction(int poolHandle, ThreadFunctionPtr function, void* functionData,
                                  int* functionId);
// Waits for the function to return. With OPT_TP_PROCESS_EVENTS_WHILE_WAITING
// on the user-interface thread, pending events run while waiting
// (ProcessSystemEvents). Waiting for a released ID is RTE_ERR_BAD_HANDLE.
int CmtWaitForThreadPoolFunctionCompletion(int poolHandle, int functionId, int options);
// Waits for the function if it still runs, then forgets the ID.
int CmtReleaseThreadPoolFunctionID(int poolHandle, int functionId);
// The function's result once it has returned (RTE_ERR_FAILED while it runs).
int CmtGetThreadPoolFunctionResult(int poolHandle, int functionId, int* result);

// ---------------------------------------------------------------------------
// Locks: recursive (the owner may take it again; release as often). A named
// lock is one lock for everyone in the process who names it; it lives until
// the last of them discards it.

typedef int CmtLockHandle;
int CmtNewLock(const char* lockName, int options, CmtLockHandle* lock);
int CmtGetLock(CmtLockHandle lock);
int CmtReleaseLock(CmtLockHandle lock);
int CmtDiscardLock(CmtLockHandle lock);

// ---------------------------------------------------------------------------
// Engine timer service: one timer thread runs the ticks of every engine timer.
// Times are two unsigned 32-bit words: [0] seconds, [1] nanoseconds.

typedef void (*RTEUSTEtickfunction)(void* record);
// Starts the timer thread; non-zero on success. Repeats harmlessly.
int RTEUSTEinitialize(void);
// A new timer (handle > 0, 0 on failure). It ticks once it has a period.
int RTEUSTEnewtimer(RTEUSTEtickfunction function, void* record);
// (Re)arms the timer: its next tick comes one period from now, then every
// period on a fixed schedule (late ticks are skipped, not bunched). A period
// below the resolution runs at the resolution. Non-zero on success.
int RTEUSTEsettimer(int timer, const std::uint32_t period[2]);
// No tick starts after this returns. Called from another thread while the
// timer's tick runs, it waits for that tick to return; called from inside the
// timer's own tick it returns at once. Non-zero on success.
int RTEUSTEdiscardtimer(int timer);
// Priorities are kept and reported; Linux gives an unprivileged program no
// real-time priorities, so they change nothing. Non-zero on success.
int RTEUSTEsetpriority(int timer, int priority);
int RTEUSTEgetpriority(int timer, int* priority);
// The resolution: 1 ms. Non-zero on success.
int RTEUSTEresolution(std::uint32_t period[2]);
// Engine time: seconds since the timer service started (monotonic clock).
int RTEUSTElocaltime(std::uint32_t time[2]);
// Bracket an asynchronous timer callback with the timer's 2048-byte context
// block; Exit must follow Enter on the same thread. Returns 0, or
// RTE_ERR_BAD_ARGUMENT for a null or unmatched context.
enum { RTE_ASYNC_CALLBACK_CONTEXT_SIZE = 2048 };
int EnterAsyncCallback(void* context);
int ExitAsyncCallback(void* context);
// 1 while the calling thread runs inside EnterAsyncCallback/ExitAsyncCallback.
int RTE_InAsyncCallback(void);
