// The user-interface runtime: panels loaded from a panel file, controls read
// and written by ID, an event loop that calls the application's callbacks,
// timer ticks, strip charts and message pop-ups. Plain C++ on purpose: the
// application includes this header and never a toolkit header.
#pragma once

#include <cstddef>

// Event codes passed to callbacks.
enum {
    EVENT_COMMIT = 1,      // the operator finished operating a control
    EVENT_TIMER_TICK = 15, // a timer control's interval elapsed
};

// Control, panel and trace attributes.
enum {
    ATTR_TEXT_BGCOLOR = 1020, // background behind a control's text, int colour
    ATTR_TOOLTIP_TEXT = 1030, // text shown when the pointer rests on a control
    ATTR_TITLE = 1040,        // a panel's window title, string
    ATTR_PRECISION = 1050,    // decimals a numeric control shows, int (read only)
    // The least and the greatest value a numeric control takes, double (read
    // only): what the panel file gives it, so a program checks a value it
    // did not get from the operator against the same range.
    ATTR_MIN_VALUE = 1060,
    ATTR_MAX_VALUE = 1061,
    ATTR_INTERVAL = 1270,      // timer interval, double [s]
    ATTR_TRACE_LG_TEXT = 1276, // trace label in a chart's legend, string
    // An indicator (or a switch) shows its value greyed, as no longer
    // current, until the next value is written to it; int, non-zero for
    // stale.
    ATTR_STALE = 1900,
    // What a control's commit does while the program waits for its
    // instrument (CallInstrument); int, one of the VAL_WHILE_WAITING_ values.
    ATTR_WHILE_WAITING = 1910,
    // The control is shown unavailable and takes no input from the operator
    // while the program's own writes still reach it; int, non-zero for
    // dimmed. It stays so through a wait for the instrument.
    ATTR_DIMMED = 1920,
    // A line the program adds below whatever else a control's tooltip says
    // (the panel file's text, the program's ATTR_TOOLTIP_TEXT, the control's
    // own notes), which neither replaces; string, "" for none.
    ATTR_TOOLTIP_NOTE = 1930,
    // Why a switch is held off whatever the operator clicks (a protection
    // that tripped): shown on the switch below its state (OFF in the colour
    // of a fault), and said to a screen reader with it; string, "" for
    // none.
    ATTR_HELD_OFF_TEXT = 1940,
};

// Values of ATTR_WHILE_WAITING.
enum {
    // The default: the commit comes once the running callback has returned;
    // once a call has waited long, the control is shown unavailable.
    VAL_WHILE_WAITING_HELD = 0,
    // A command button that ends the program: its commit (a click, its
    // shortcut) stops the program at once, as a stop signal does.
    VAL_WHILE_WAITING_QUITS = 1,
    // A switch that may always be switched off: while it shows on it stays
    // available, and switched off its commit is kept for the program to
    // take between two calls (TakeWaitingCommit), else it comes once the
    // running callback has returned.
    VAL_WHILE_WAITING_OFF = 2,
};

// Colours, as 0xRRGGBB.
enum {
    VAL_DEFAULT_COLOR = -1, // whatever the panel's style gives the control
    VAL_WARNING_COLOR = 0xFFD27F,
    VAL_ERROR_COLOR = 0xF2A0A0,
};

// Data types for PlotStripChart.
enum {
    VAL_DOUBLE = 4,
};

#define CVICALLBACK

typedef int(CVICALLBACK* CtrlCallbackPtr)(int panel, int control, int event, void* callbackData, int eventData1,
                                          int eventData2);

// The application's external names: LoadPanel binds each callback name that
// the panel file gives to the function listed under it here, and refuses a
// file that binds it to a control of another kind. The application defines
// both.
struct UICallbackName {
    const char* name;
    CtrlCallbackPtr function;
    int kind; // the kind of control it serves (CTRL_ below)
};
extern const UICallbackName uiCallbackNames[];
extern const std::size_t uiCallbackNameCount;

// What the program does with a control, so that LoadPanel can refuse a panel
// file that lacks one, or has it as something the program cannot use.
enum {
    CTRL_NUMERIC = 1,       // the operator enters a number; read and written as a double
    CTRL_NUMERIC_INDICATOR, // shows a number the program writes
    CTRL_RING_INDICATOR,    // shows a code the program writes, through its value labels
    CTRL_SWITCH,            // two values, read as an int
    CTRL_RING,              // a choice among values, read and written as an integer
    CTRL_COMMAND_BUTTON,    // only raises its callback's commit event
    CTRL_STRIP_CHART,       // takes one point per trace per plot
    CTRL_TIMER,             // raises timer ticks
    CTRL_TEXT_MESSAGE,      // shows a text the program writes
};

// The controls the application names: LoadPanel refuses a panel file that
// lacks one of them on the panel being loaded, has it as another kind (a
// strip chart must have `traces` traces), outside its group or with another
// callback. The application defines both.
struct UIControlUse {
    int panel;
    int control;
    int kind;
    const char* name;     // the control's name in the application, for messages
    int traces;           // strip charts only
    const char* group;    // the title of the group box it sits in; null: any place
    const char* callback; // the name of the callback it raises; empty: none
};
extern const UIControlUse uiControlUses[];
extern const std::size_t uiControlUseCount;

// 0 when the runtime cannot be used (no display can be opened, for instance).
int InitCVIRTEEx(void* hInstance, char* argv[], void* reserved);
// Port 0 is standard output; made line-buffered so every line shows at once.
int SetStdioPort(int port);

// Handle > 0, or negative when the file or the panel in it cannot be used.
// A file name without a directory is looked up beside the executable.
int LoadPanel(int parentPanel, const char* fileName, int panelResourceId);
int DisplayPanel(int panel);
int DiscardPanel(int panel);

// Runs callbacks until one calls QuitUserInterface; returns its code.
int RunUserInterface(void);
int QuitUserInterface(int code);

int GetCtrlVal(int panel, int control, double* value);
int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, unsigned char* value);
// Shows the value; never raises a callback.
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, int value);
// The text of a text message.
int SetCtrlVal(int panel, int control, const char* value);

int SetCtrlAttribute(int panel, int control, int attribute, double value);
int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, const char* value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);
int GetCtrlAttribute(int panel, int control, int attribute, double* value);
int SetPanelAttribute(int panel, int attribute, const char* value);
int SetTraceAttributeEx(int panel, int control, int trace, int attribute, const char* value);
// One new point per trace: element k of `array` goes to trace k + 1.
int PlotStripChart(int panel, int control, const void* array, int numberOfPoints, int startingIndex, int skipCount,
                   int dataType);

// Modal; returns once the operator dismisses it.
int MessagePopup(const char* title, const char* message);
// Asks the operator to confirm `message`: 1 for yes, 0 for no (and while
// the program is stopping, when nobody is there to answer).
int ConfirmPopup(const char* title, const char* message);

int SuspendTimerCallbacks(void);
int ResumeTimerCallbacks(void);

// Non-zero once the process was asked to stop (SIGINT, SIGTERM, SIGHUP, or a
// quit: the program's own, the operator's while it waits). The event loop
// then ends and no pop-up waits; a program that is in the middle of slow work
// checks this between steps and skips what it need not finish.
int StopRequested(void);

// Runs `call(context)`, one call into the instrument's library, on the
// runtime's instrument thread (every such call on that one thread, one at a
// time, in the order made) and returns its result, keeping the program's
// windows alive meanwhile: painted, a quit heard, the operator's input kept
// for after the running callback. No other callback runs while it waits.
// Once a call has taken about half a second, the panel says "Waiting for
// <waitingFor>, 3.4 s" (before a panel is shown, a small window says so and
// offers to quit) and its controls are shown unavailable, but for those
// marked with ATTR_WHILE_WAITING.
int CallInstrument(const char* waitingFor, int (*call)(void* context), void* context);

// A commit the operator made while the program waited (a switch marked
// VAL_WHILE_WAITING_OFF switched off), taken once: 1 with its panel and
// control, 0 when there is none.
int TakeWaitingCommit(int* panel, int* control);

// ---- A TCP server for scripts on this computer ------------------------------
// Raw TCP (a SCPI instrument listens on port 5025) on the loopback interface
// only: 127.0.0.1 and ::1 (where the machine has IPv6), never another
// interface, so only programs on this computer reach the program.

// Events passed to a TCP callback. A client's events come in this order:
// one TCP_CONNECT, TCP_DATAREADY whenever it has sent bytes not yet announced,
// one TCP_DISCONNECT, and nothing after that. In the TCP_DISCONNECT callback
// the client can no longer be read or written, but still tells its peer's
// address and user; once that callback has returned its handle is void.
enum {
    TCP_CONNECT = 1,    // a client connected; `client` is its handle
    TCP_DATAREADY = 2,  // the client sent bytes: ServerTCPRead takes them
    TCP_DISCONNECT = 3, // the peer closed, DisconnectTCPClient or UnregisterTCPServer
};

// Runs like every other callback: on the event loop's thread, while the loop
// runs (RunUserInterface), never while another callback runs or a call into
// the instrument (CallInstrument) is under way. Its result is ignored.
typedef int(CVICALLBACK* tcpFuncPtr)(int server, int client, int event, void* callbackData);

// Listens on `port` (1 to 65535) of 127.0.0.1 and ::1; a server handle >= 0,
// or a negative error: UIE_TCP_ADDRESS_IN_USE when another listener holds
// the port. Per pass of the event loop at most a few TCP events are
// delivered, and one TCP_DATAREADY a client is announced until the program
// has read (ServerTCPRead), so a flood of clients or bytes never starves the
// timer, the painting or the operator's input.
int RegisterTCPServer(int port, tcpFuncPtr callback, void* callbackData);
// Stops listening and disconnects the server's clients; each still gets its
// TCP_DISCONNECT, from the loop, after this has returned.
int UnregisterTCPServer(int server);

// Up to `size` bytes the client sent: how many were read, 0 when none are
// pending, negative when the client is gone (disconnected by the program, or
// its TCP_DISCONNECT delivered). What a peer sent before it closed stays
// readable until its TCP_DISCONNECT. Bytes left unread are announced again.
int ServerTCPRead(int client, void* buffer, int size);
// Queues all `size` bytes for sending: `size`, or negative when the client
// is gone or its peer has closed.
int ServerTCPWrite(int client, const void* data, int size);
// Bytes queued by ServerTCPWrite and not yet handed to the system, which a
// client that reads nothing makes grow: the program disconnects such a
// client before they pile up.
int GetTCPOutputPending(int client);
// Closes the connection at once; output not yet sent is dropped. The client
// still gets its TCP_DISCONNECT, after this has returned.
int DisconnectTCPClient(int client);
// Closes the connection once the output queued so far has been sent, so a
// last answer (why it is refused) reaches the peer; nothing more is read
// or written. Its TCP_DISCONNECT follows once the connection is closed.
int CloseTCPClient(int client);
// The peer's address and port, "127.0.0.1:54321" or "[::1]:54321"; 0, or
// UIE_BAD_ARGUMENT when `size` bytes cannot hold it with its terminating 0.
int GetTCPPeerAddr(int client, char* text, int size);
// The user id owning the peer's socket, as the kernel told it when the
// client connected (on Linux, through its socket diagnostics); 0 with
// *uid set, or negative (UIE_TCP_UID_UNKNOWN) when it could not be told.
int GetTCPPeerUid(int client, long* uid);
// What a negative result of the functions above means, in a few words.
const char* GetTCPErrorString(int code);

// Negative results of the functions above.
enum {
    UIE_NO_RUNTIME = -1,    // InitCVIRTEEx has not succeeded
    UIE_FILE = -2,          // the panel file is missing or unreadable
    UIE_FORMAT = -3,        // the panel file is malformed
    UIE_BAD_PANEL = -4,     // no such panel handle
    UIE_BAD_CONTROL = -5,   // no such control on the panel
    UIE_BAD_ATTRIBUTE = -6, // attribute, trace or value not valid there
    UIE_BAD_ARGUMENT = -7,  // a null pointer, a count out of range
    // The TCP server's.
    UIE_TCP_ADDRESS_IN_USE = -20, // another listener holds the port
    UIE_TCP_ACCESS = -21,         // the system refused the port (below 1024 needs privileges)
    UIE_TCP_LISTEN = -22,         // listening failed for another reason
    UIE_TCP_BAD_SERVER = -23,     // no such server handle, or unregistered
    UIE_TCP_BAD_CLIENT = -24,     // no such client, or disconnected
    UIE_TCP_PEER_CLOSED = -25,    // the peer has closed: nothing more can be sent
    UIE_TCP_UID_UNKNOWN = -26,    // the peer socket's owner could not be told
    UIE_TCP_NOT_AVAILABLE = -27,  // this build has no TCP server
};
