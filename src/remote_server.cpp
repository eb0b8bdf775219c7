// Remote control's connections: the TCP server, who may connect, each
// client's lines run through the command table, the panel lock the clients
// hold, the status field, and the command line's --remote.
#include "remote_clients.h"
#include "remote_control.h"

#include "panel_marks.h"
#include "railmon.h"
#include "status_line.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

Remote gRemote;

namespace {

// A line costs at most a few calls into the supply, each of which may take
// a slow USB round trip: this many per TCP_DATAREADY keep a flooding script
// from holding the panel; the rest is announced again.
constexpr int kLinesPerEvent = 8;

// The peers of the clients in `mode` or a stronger one, "A and B".
std::string peersIn(Mode mode)
{
    std::string peers;
    for (const Client& c : gRemote.clients)
        if (c.mode >= mode)
            peers += (peers.empty() ? std::string() : std::string(" and ")) + c.peer;
    return peers;
}

// What SYSTem:RWLock keeps from the operator: the setpoints, Set, the
// preset selector and the Enabled buttons. Never the main output switch,
// Exit, Remote control or protection: the operator can always switch the
// outputs off, leave, cut every script off, or arm a limit.
std::vector<int> lockedControls()
{
    std::vector<int> controls(vset, vset + CHANNELS);
    controls.insert(controls.end(), iset, iset + CHANNELS);
    controls.insert(controls.end(), radiob, radiob + CHANNELS);
    controls.push_back(PANEL_PRESET);
    controls.push_back(PANEL_SET);
    return controls;
}

} // namespace

void showRemoteStatus()
{
    if (!gRemote.panel)
        return;
    if (gRemote.server < 0) {
        showStatus(PANEL_STATUS_REMOTE, gRemote.why.empty() ? "Remote off" : "Remote off: " + gRemote.why,
                   gRemote.why.empty() ? VAL_DEFAULT_COLOR : VAL_WARNING_COLOR);
        return;
    }
    const std::size_t n = gRemote.clients.size();
    std::string text = "Remote: 127.0.0.1:" + std::to_string(gRemote.port) + ", " + std::to_string(n) +
        (n == 1 ? " client" : " clients");
    if (!gRemote.lockedBy.empty())
        text += ", panel locked by " + gRemote.lockedBy;
    else if (const std::string remote = peersIn(Mode::Remote); !remote.empty())
        text += ", in remote: " + remote;
    if (!gRemote.lastEvent.empty())
        text += ", " + gRemote.lastEvent;
    showStatus(PANEL_STATUS_REMOTE, text, VAL_DEFAULT_COLOR);
}

// Locks the panel while a client holds it locked, and releases it once
// none does (SYSTem:LOCal, its disconnect, Remote control off).
void applyLock()
{
    const std::string holders = peersIn(Mode::Locked);
    if (holders != gRemote.lockedBy && gRemote.panel) {
        const std::string note = holders.empty()         ? std::string()
            : holders.find(" and ") == std::string::npos ? "locked by remote client " + holders + " (SYST:RWL)"
                                                         : "locked by remote clients " + holders + " (SYST:RWL)";
        for (int control : lockedControls()) {
            SetCtrlAttribute(gRemote.panel, control, ATTR_DIMMED, holders.empty() ? 0 : 1);
            noteRemoteLock(gRemote.panel, control, note);
        }
        if (holders.empty() != gRemote.lockedBy.empty())
            printf("Remote control: panel %s\n", holders.empty() ? "released" : ("locked by " + holders).c_str());
    }
    gRemote.lockedBy = holders;
    showRemoteStatus();
}

namespace {

// ---- Connections ----------------------------------------------------------------

Client* findClient(int handle)
{
    for (Client& c : gRemote.clients)
        if (c.handle == handle)
            return &c;
    return nullptr;
}

std::string peerOf(int handle)
{
    char text[64] = "";
    return GetTCPPeerAddr(handle, text, sizeof text) == 0 ? std::string(text) : std::string("a client");
}

// Only the user who runs railmon, and root, may drive the supply: another
// user on a shared bench computer reaches the loopback port too.
bool mayConnect(int handle, long& uid)
{
    uid = -1;
    if (GetTCPPeerUid(handle, &uid) != 0)
        return false;
#ifdef _WIN32
    return false;
#else
    return uid == 0 || uid == static_cast<long>(getuid());
#endif
}

void cutOff(Client& client, const char* why)
{
    printf("Remote control: %s %s\n", client.peer.c_str(), why);
    DisconnectTCPClient(client.handle);
}

void connected(int handle)
{
    const std::string peer = peerOf(handle);
    long uid = -1;
    if (!mayConnect(handle, uid)) {
        const std::string who = uid >= 0 ? "user " + std::to_string(uid) : std::string("an unknown user");
        printf("Remote control: refused %s of %s: only this user and root may connect\n", peer.c_str(), who.c_str());
        gRemote.lastEvent = "refused " + who + " at " + clockTime(std::time(nullptr));
        DisconnectTCPClient(handle);
        showRemoteStatus();
        return;
    }
    if (static_cast<int>(gRemote.clients.size()) >= kRemoteMaxClients) {
        const std::string line =
            "-310,\"System error;too many clients: " + std::to_string(kRemoteMaxClients) + " connected\"\n";
        ServerTCPWrite(handle, line.data(), static_cast<int>(line.size()));
        printf("Remote control: refused %s: %d clients connected\n", peer.c_str(), kRemoteMaxClients);
        CloseTCPClient(handle);
        return;
    }
    gRemote.clients.push_back({});
    gRemote.clients.back().handle = handle;
    gRemote.clients.back().peer = peer;
    printf("Remote control: %s connected\n", peer.c_str());
    showRemoteStatus();
}

// Runs the lines the client sent, a bounded number per event. The bytes are
// taken one at a time so that reading stops at a line's end: what is left
// stays with the runtime, which announces it again.
void dataReady(Client& client)
{
    for (int done = 0; done < kLinesPerEvent;) {
        char byte = 0;
        if (ServerTCPRead(client.handle, &byte, 1) != 1)
            return;
        std::string_view received(&byte, 1);
        const ScpiLineBuffer::Result result = client.lines.take(received);
        if (result == ScpiLineBuffer::Result::NeedMore)
            continue;
        ++done;
        if (result == ScpiLineBuffer::Result::Overrun) {
            client.scpi.error(-363);
            continue;
        }
        const std::string answer = ScpiExecute(RemoteCommandTable(), client.scpi, client.lines.line(), &client);
        if (!answer.empty())
            ServerTCPWrite(client.handle, answer.data(), static_cast<int>(answer.size()));
        if (GetTCPOutputPending(client.handle) > kRemoteMaxUnread)
            return cutOff(client, "cut off: it left more than 64 KiB of answers unread");
    }
}

int CVICALLBACK serverEvent(int, int handle, int event, void*)
{
    switch (event) {
    case TCP_CONNECT:
        connected(handle);
        break;
    case TCP_DATAREADY:
        if (Client* client = findClient(handle))
            dataReady(*client);
        break;
    case TCP_DISCONNECT:
        if (Client* client = findClient(handle)) {
            printf("Remote control: %s disconnected\n", client->peer.c_str());
            gRemote.clients.remove_if([handle](const Client& c) { return c.handle == handle; });
            applyLock();
        }
        break;
    }
    return 0;
}

bool startServer()
{
    const int server = RegisterTCPServer(gRemote.port, serverEvent, nullptr);
    if (server < 0) {
        gRemote.why = "port " + std::to_string(gRemote.port) + ": " + GetTCPErrorString(server);
        printf("Remote control not started: %s\n", gRemote.why.c_str());
        showRemoteStatus();
        return false;
    }
    gRemote.server = server;
    gRemote.why.clear();
    gRemote.lastEvent.clear();
    printf("Remote control on 127.0.0.1:%d\n", gRemote.port);
    showRemoteStatus();
    return true;
}

void stopServer()
{
    if (gRemote.server < 0)
        return;
    UnregisterTCPServer(gRemote.server);
    gRemote.server = -1;
    // Their disconnects come later from the loop, or never at exit: they
    // are gone already.
    gRemote.clients.clear();
    printf("Remote control off\n");
    applyLock();
}

} // namespace

bool RemoteParseOption(const char* argument, RemoteOptions& options, std::string& problem)
{
    const std::string arg = argument;
    if (arg == "--remote") {
        options.start = true;
        return true;
    }
    if (arg.rfind("--remote=", 0) != 0)
        return true;
    const std::string text = arg.substr(9);
    char* end = nullptr;
    const long port = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || port < 1 || port > 65535) {
        problem = "--remote=PORT takes a port from 1 to 65535, not '" + text + "'";
        return false;
    }
    options.start = true;
    options.port = static_cast<int>(port);
    return true;
}

const char* RemoteUsage()
{
    return "Usage: railmon [--remote[=PORT]]\n"
           "Controls and monitors a four-output bench supply.\n"
           "\n"
           "  --remote       start with Remote control on: SCPI commands from scripts on\n"
           "                 this computer, at 127.0.0.1 and ::1, port 5025\n"
           "  --remote=PORT  the same at PORT (1 to 65535)\n"
           "  --help         this text\n";
}

void RemoteSetUp(int panel, const RemoteOptions& options)
{
    gRemote.panel = panel;
    gRemote.port = options.port;
    if (options.start && startServer())
        SetCtrlVal(panel, PANEL_REMOTEONOFF, 1);
    showRemoteStatus();
}

void RemoteShutDown()
{
    stopServer();
}

int CVICALLBACK RemoteOnOffCB(int panel, int control, int event, void*, int, int)
{
    if (event != EVENT_COMMIT)
        return 0;
    int on = 0;
    GetCtrlVal(panel, control, &on);
    if (on && gRemote.server < 0 && !startServer())
        SetCtrlVal(panel, control, 0);
    else if (!on)
        stopServer();
    return 0;
}
