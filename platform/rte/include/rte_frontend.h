// What a front end (headless or Qt) implements, and the model it draws from.
//
// The engine never draws. It keeps the panels and controls in a model behind
// a mutex, tells the front end what changed, and asks it to run the loop and
// show pop-ups. A front end reads the model with the functions at the end of
// this file and turns the operator's actions into posted events.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "rte.h"

namespace rte {

// ---------------------------------------------------------------------------
// The model, as the front end sees it (copies; never live references).

enum class ControlKind {
    Numeric,     // int or double value with minimum and maximum
    String,      // one line of text
    TextBox,     // lines of text
    Ring,        // items with int values; the value is the selected item's
    Led,         // int 0/1 (any non-zero lights it)
    Toggle,      // push-on/push-off button, int 0/1
    Switch,      // two-position switch, int 0/1
    Button,      // command button: commits on a click, no value
    Tab,         // tab control: its pages are panels with their own handles
    Timer,       // invisible; ticks EVENT_TIMER_TICK to its callback
    Decoration,  // a caption or frame; no value, no events
};
const char* ControlKindName(ControlKind kind);  // "numeric", "string", ... as in the panel file

using Value = std::variant<std::monostate, int, double, std::string>;

struct RingItem {
    std::string label;
    int value = 0;
};

// How a control follows a resize of its panel: the share (0 to 1) of the
// panel's growth (negative when it shrinks below its size in the file) by
// which each edge moves. All 0: it stays where it is; left 0 and right 1:
// it stretches; left and right 1: it moves with the right edge.
struct Follow {
    double left = 0, right = 0, top = 0, bottom = 0;
    bool operator==(const Follow&) const = default;
};

struct ControlInfo {
    int panel = 0;
    int id = 0;
    ControlKind kind = ControlKind::Decoration;
    std::string constant;  // the name in the control-ID header, e.g. "PANEL_STATUS"
    std::string label;     // caption; a button's or toggle's text
    int left = 0, top = 0, width = 0, height = 0;  // pixels at 100% scale, in the panel
    Follow follow;                                 // at the panel's size in the file
    // Presentation hint from the panel file:
    //   Numeric: "spin" (entry), "indicator" (read-only), "progress" (bar)
    //   String, TextBox: "input" or "indicator"
    //   Led: a colour name ("green", "red", "yellow")
    //   Decoration: "label" or "frame"
    std::string style;
    bool isDouble = false;            // Numeric: double rather than int
    int precision = 0;                // Numeric double: digits after the point shown
    Value value;                      // Numeric/Ring/Led/Toggle/Switch: int or double; String: text
    double minimum = 0, maximum = 0;  // Numeric
    std::vector<RingItem> items;      // Ring
    int selectedIndex = -1;           // Ring (ATTR_CTRL_INDEX), -1 when empty
    std::string onText, offText;      // Toggle, Switch: texts of the two states
    std::size_t lineCount = 0;        // TextBox
    int firstVisibleLine = 0;         // TextBox (ATTR_FIRST_VISIBLE_LINE)
    bool dimmed = false, visible = true;
    bool tabsVisible = true;              // Tab (ATTR_TABS_VISIBLE)
    std::vector<int> pages;               // Tab: page panel handles, in order
    std::vector<std::string> pageLabels;  // Tab: their tab texts
    double interval = 1.0;                // Timer (seconds)
    bool enabled = true;                  // Timer
    bool hasCallback = false;
    std::string callbackName;  // as registered ("" when none or unknown)
};

struct PanelInfo {
    int handle = 0;
    int resourceId = 0;    // the panel's number in the file (pages: theirs)
    std::string constant;  // e.g. "PANEL", "TABISP"
    std::string title;
    int width = 0, height = 0;
    int minWidth = 0, minHeight = 0;  // the smallest the window may be (top level)
    int parentPanel = 0;              // pages: the panel holding the tab control; 0 top level
    int parentTab = 0;                // pages: the tab control's ID
    int pageIndex = -1;               // pages: 0 first
    bool displayed = false;           // top level: DisplayPanel was called
    int activeControl = 0;            // SetActiveCtrl's control, 0 none
    bool hasCloseCallback = false;    // closing the window commits a callback
    std::vector<int> controls;        // control IDs in file order (drawing order)
};

// Every live panel handle, top-level panels first, pages after their parent.
std::vector<int> Panels();
std::optional<PanelInfo> Panel(int panel);
std::optional<ControlInfo> Control(int panel, int control);

// Text-box lines without copying the whole box each time. A text box carries
// a generation that ResetTextBox (and any insertion not at the end) changes.
// Pass the generation and line count the front end already shows; when the
// generation still matches, the delta holds the lines from knownCount on,
// otherwise reset is true and it holds every line.
struct TextBoxDelta {
    std::uint64_t generation = 0;
    bool reset = false;
    std::size_t firstLine = 0;
    std::vector<std::string> lines;
};
std::optional<TextBoxDelta> ReadTextBox(int panel, int control, std::uint64_t knownGeneration,
                                        std::size_t knownCount);

// ---------------------------------------------------------------------------
// Operator actions. Safe from any thread.

// Sets a value as the operator would (no event): int/double for numerics,
// rings (by item value), LEDs, toggles, switches; text for strings and text
// boxes. Dimmed controls still accept it (tests drive them).
int UserSetValue(int panel, int control, const Value& value);
// Selects a ring item by index.
int UserSelectIndex(int panel, int control, int index);
// Posts event to the control's callback (looked up when the event runs; a
// control without a callback, or discarded by then, drops it).
int PostControlEvent(int panel, int control, int event, int eventData1 = 0, int eventData2 = 0);
// The operator's commit: sets the value (if not monostate) and posts EVENT_COMMIT.
int UserCommit(int panel, int control, const Value& value = {});
// The operator's click on a button, toggle or switch: posts EVENT_LEFT_CLICK,
// then for a toggle or switch flips its value, then posts EVENT_COMMIT.
int UserClick(int panel, int control);
// The operator's up (step -1) or down (step 1) key in a string or text box
// with an input history (AddCtrlHistory): shows the older or newer entry,
// the text being typed coming back past the newest. 1 when the text changed,
// 0 at either end (the key then does what it does otherwise), or an error.
int UserRecallHistory(int panel, int control, int step);
// The window's close button: posts EVENT_COMMIT to the panel's close
// callback with control 0. RTE_ERR_BAD_ARGUMENT when it has none.
int UserClosePanel(int panel);

// Waits until every event posted before the call has run (callbacks,
// deferred calls, ticks). False on time-out. On the user-interface thread it
// runs what it can (PumpEvents) and says whether the queue is empty.
bool WaitForEventsProcessed(std::chrono::milliseconds timeout);

// ---------------------------------------------------------------------------
// Pop-up requests and answers.

struct MessageRequest {
    std::string title, message;
};

struct ButtonLabel {
    std::string text;   // the label without the "__" marker
    char shortcut = 0;  // the letter after "__", 0 when none
};
ButtonLabel ParseButtonLabel(const std::string& label);

struct GenericRequest {
    std::string title, message;
    std::array<std::string, 3> buttons;  // raw labels ("" = no button); see ParseButtonLabel
    bool wantsResponse = false;          // show an entry field
    int maxResponseLength = 0;
    int buttonAlignment = 0;
    int activeControl = 0;  // button 1-3 with the initial focus (0: first)
    int enterButton = 0;    // 1-3, 0 none
    int escapeButton = 0;   // 1-3, 0 none
};
struct GenericAnswer {
    int button = 0;  // 1-3, 0 closed without a button
    std::string response;
};

struct FileRequest {
    std::string directory;  // "" = current directory
    std::string fileSpec;   // e.g. "*.hex"
    std::string typeList;   // ';'-separated patterns
    std::string title;
    int buttonLabel = 0;
    bool restrictDirectory = false, restrictExtension = false, allowCancel = true,
         allowMakeDirectory = false;
};
struct FileAnswer {
    int result = VAL_NO_FILE_SELECTED;  // VAL_*_FILE_SELECTED
    std::string path;
};

// ---------------------------------------------------------------------------
// The front end.

enum class ChangeKind {
    ValueChanged,      // a control's value (for a text box: its text was replaced)
    AttributeChanged,  // attribute says which (ATTR_*)
    LinesAppended,     // a text box got lines at its end: read them with ReadTextBox
    LinesReset,        // a text box was emptied, refilled or had a line inserted
    PanelDisplayed,
    PanelDiscarded,        // the panel (and its pages) are gone from the model
    ActiveControlChanged,  // SetActiveCtrl: move the keyboard focus there
};
struct Change {
    ChangeKind kind = ChangeKind::ValueChanged;
    int panel = 0;
    int control = 0;    // 0 for panel changes
    int attribute = 0;  // for ChangeKind::AttributeChanged
};

class FrontEnd {
  public:
    virtual ~FrontEnd() = default;

    // From InitRTEEx, on its thread. False makes InitRTEEx fail.
    virtual bool start() { return true; }
    // From RTE_CloseEngine.
    virtual void stop() {}

    // Runs the loop on the user-interface thread (called by
    // RunUserInterface) until quitLoop. Whenever wake() has been called, the
    // loop must call rte::PumpEvents() on this thread soon.
    virtual void runLoop() = 0;
    // Any thread: make runLoop return. It may come before runLoop has
    // started (a quit from another thread); runLoop must then return at once.
    virtual void quitLoop() = 0;
    // Any thread: the engine's queue has work.
    virtual void wake() = 0;
    // User-interface thread, from ProcessSystemEvents and while the engine
    // waits there for another thread (a timer's tick, a worker): handle the
    // front end's own pending work (redraws, input, pop-ups other threads
    // asked for) and return.
    virtual void processFrontEndEvents() {}

    // Any thread, no engine lock held: something in the model changed.
    // Read the model again (on the front end's own thread) and redraw.
    virtual void changed(const Change& change) = 0;

    // Any thread, no engine lock held; block until answered. On the
    // user-interface thread (a callback asking) show it there, in a nested
    // loop; from any other thread hand it to the user-interface thread and
    // wait. Keep a PopupOnScreen while the pop-up is really shown: the engine
    // holds its events then, and only then.
    virtual void messagePopup(const MessageRequest& request) = 0;
    virtual GenericAnswer genericMessagePopup(const GenericRequest& request) = 0;
    virtual FileAnswer fileSelectPopup(const FileRequest& request) = 0;

    virtual void beep() {}
    virtual std::intptr_t windowHandle() const { return 0; }
};

// Holds the engine's events (control callbacks, deferred calls, ticks) for as
// long as it lives. Counted where the pop-up is shown rather than where it is
// asked for: a request still on its way to a busy user-interface thread must
// not stop the events that thread needs to get back to it.
class PopupOnScreen {
  public:
    PopupOnScreen();
    ~PopupOnScreen();
    PopupOnScreen(const PopupOnScreen&) = delete;
    PopupOnScreen& operator=(const PopupOnScreen&) = delete;
};

// User-interface thread: runs queued events one at a time until the queue is
// empty, a pop-up opens, or the loop is asked to quit. Does nothing inside a
// callback (no nesting) or while a pop-up is open.
void PumpEvents();

// True on the thread that runs (or last ran) RunUserInterface.
bool OnUserInterfaceThread();

}  // namespace rte

// Installs the front end that InitRTEEx starts (replacing any earlier one).
// Call it before InitRTEEx.
void RTE_InstallFrontEnd(std::shared_ptr<rte::FrontEnd> frontEnd);
