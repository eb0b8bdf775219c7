#include "tcp_service.h"

#include "callback_guard.h"
#include "instrument_calls.h"
#include "userint.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <climits>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#ifdef __linux__
#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

namespace {

// TCP events delivered in one pass of the event loop: a tick, painting and
// the operator's input get their turn between two passes.
constexpr int kEventsPerPass = 8;
// What a client's socket holds of what it sent and the program has not read
// [bytes]: past it Qt stops reading and TCP's flow control holds the sender.
constexpr qint64 kReadBufferBytes = 64 * 1024;
// How soon delivery is tried again while a call into the instrument is under
// way that no callback made (nothing says when it ends) [ms].
constexpr int kRetryMs = 10;

struct Client {
    int server = 0;
    QTcpSocket* socket = nullptr;
    std::string peer;
    std::optional<long> uid;
    // What is due, delivered in this order.
    bool connectDue = true, dataDue = false, disconnectDue = false;
    bool queued = false;       // in gDue
    bool awaitingRead = false; // a TCP_DATAREADY delivered, nothing read since
    bool cut = false;          // the program disconnected it: nothing to read or write
    bool ending = false;       // its TCP_DISCONNECT is being delivered
};

struct Server {
    tcpFuncPtr callback = nullptr;
    void* data = nullptr;
    std::vector<QTcpServer*> listeners;
    int clients = 0;
    // Kept after UnregisterTCPServer until its clients' disconnects are
    // delivered: they go to its callback.
    bool unregistered = false;
};

std::map<int, Server> gServers;
std::map<int, Client> gClients;
// Clients with an event due, each once: one event each in turn, so a busy
// client does not keep the others waiting.
std::deque<int> gDue;
int gNextServer = 0, gNextClient = 0;
bool gLoopRunning = false, gPassScheduled = false;

// Handles are not reused while they can still be held: a stale one finds
// nothing instead of another client. A bench that runs for months with a
// script connecting for every query can count past INT_MAX, so they wrap.
int nextHandle(int& next, const auto& inUse)
{
    do {
        next = next == INT_MAX ? 0 : next + 1;
    } while (inUse.count(next));
    return next;
}

Client* findClient(int id)
{
    const auto it = gClients.find(id);
    return it == gClients.end() ? nullptr : &it->second;
}

void deliverPass();

void schedulePass()
{
    if (gPassScheduled || gDue.empty() || !gLoopRunning)
        return;
    gPassScheduled = true;
    QTimer::singleShot(0, qApp, [] { whenNoCallbackRuns(deliverPass); });
}

void makeDue(int id, Client& c)
{
    if (!c.queued) {
        c.queued = true;
        gDue.push_back(id);
    }
    schedulePass();
}

void dataArrived(int id)
{
    Client* c = findClient(id);
    // One announcement until the program has read: a flood costs one event.
    if (!c || c->cut || c->awaitingRead || c->dataDue)
        return;
    c->dataDue = true;
    makeDue(id, *c);
}

void peerGone(int id)
{
    Client* c = findClient(id);
    if (!c || c->disconnectDue)
        return;
    c->disconnectDue = true;
    makeDue(id, *c);
}

void cut(int id, Client& c)
{
    if (c.cut)
        return;
    c.cut = true;
    c.dataDue = false;
    c.disconnectDue = true;
    c.socket->abort(); // reports the disconnect at once: it is already due
    makeDue(id, c);
}

void forget(int id)
{
    const auto it = gClients.find(id);
    if (it == gClients.end())
        return;
    QTcpSocket* socket = it->second.socket;
    const int server = it->second.server;
    gClients.erase(it);
    socket->abort();
    socket->deleteLater();
    if (const auto s = gServers.find(server); s != gServers.end() && --s->second.clients == 0 && s->second.unregistered)
        gServers.erase(s);
}

void deliverNext(int id)
{
    Client* c = findClient(id);
    if (!c)
        return;
    c->queued = false;
    int event = 0;
    if (std::exchange(c->connectDue, false)) {
        event = TCP_CONNECT;
    } else if (std::exchange(c->dataDue, false)) {
        event = TCP_DATAREADY;
        c->awaitingRead = true;
    } else if (c->disconnectDue) {
        event = TCP_DISCONNECT;
        c->ending = true;
    } else {
        return;
    }
    const int server = c->server;
    const Server& s = gServers.at(server);
    const tcpFuncPtr callback = s.callback;
    void* const data = s.data;
    {
        const CallbackRun run;
        callback(server, id, event, data);
    }
    // Looked up afresh: the callback may have disconnected it.
    if (event == TCP_DISCONNECT)
        forget(id);
    else if (Client* again = findClient(id); again && (again->connectDue || again->dataDue || again->disconnectDue))
        makeDue(id, *again);
}

void deliverPass()
{
    gPassScheduled = false;
    if (!gLoopRunning)
        return; // the loop's start schedules a pass again
    if (callbackRunning() || instrumentCallUnderWay()) {
        gPassScheduled = true;
        QTimer::singleShot(kRetryMs, qApp, [] { whenNoCallbackRuns(deliverPass); });
        return;
    }
    // Once the program has asked to quit, its clients wait for the end.
    for (int n = 0; n < kEventsPerPass && !gDue.empty() && gLoopRunning && !StopRequested(); ++n) {
        const int id = gDue.front();
        gDue.pop_front();
        deliverNext(id);
        // What that callback held back (the operator's input while it
        // waited for the instrument) comes before the next TCP event.
        if (workHeldBack())
            break;
    }
    schedulePass();
}

std::string peerText(const QTcpSocket& socket)
{
    const QHostAddress address = socket.peerAddress();
    const QString host = address.protocol() == QAbstractSocket::IPv6Protocol
        ? QStringLiteral("[%1]").arg(address.toString())
        : address.toString();
    return QStringLiteral("%1:%2").arg(host).arg(socket.peerPort()).toStdString();
}

#ifdef __linux__
// Only a full socket carries its owner: the kernel reports a TIME_WAIT or a
// half-open (SYN_RECV) socket with uid 0, which would pass for root.
bool ownerKnown(int state)
{
    switch (state) {
    case TCP_ESTABLISHED:
    case TCP_FIN_WAIT1:
    case TCP_FIN_WAIT2:
    case TCP_CLOSE_WAIT:
    case TCP_LAST_ACK:
    case TCP_CLOSING:
        return true;
    default:
        return false;
    }
}

// The owner of the socket that connected to `socket`: the kernel's socket
// diagnostics are asked for the one socket whose own end is the peer's
// address and port and whose remote end is ours, which is the connecting
// socket and never the accepted one.
std::optional<long> peerUid(const QTcpSocket& socket)
{
    const QHostAddress peer = socket.peerAddress(), local = socket.localAddress();
    if (peer.protocol() != local.protocol())
        return std::nullopt;
    const bool v6 = peer.protocol() == QAbstractSocket::IPv6Protocol;
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.header.nlmsg_seq = 1;
    inet_diag_req_v2& r = message.request;
    r.sdiag_family = v6 ? AF_INET6 : AF_INET;
    r.sdiag_protocol = IPPROTO_TCP;
    r.idiag_states = ~0U;
    r.id.idiag_sport = htons(socket.peerPort());
    r.id.idiag_dport = htons(socket.localPort());
    r.id.idiag_cookie[0] = r.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    if (v6) {
        const Q_IPV6ADDR p = peer.toIPv6Address(), l = local.toIPv6Address();
        std::memcpy(r.id.idiag_src, &p, sizeof p);
        std::memcpy(r.id.idiag_dst, &l, sizeof l);
    } else {
        r.id.idiag_src[0] = htonl(peer.toIPv4Address());
        r.id.idiag_dst[0] = htonl(local.toIPv4Address());
    }

    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG);
    if (fd < 0)
        return std::nullopt;
    // The kernel answers before sendto returns; the limit only guards the
    // loop's thread against a kernel that never does. [s]
    const timeval limit{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    std::optional<long> uid;
    if (sendto(fd, &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) ==
        static_cast<ssize_t>(sizeof message)) {
        alignas(nlmsghdr) char answer[8192];
        const ssize_t got = recv(fd, answer, sizeof answer, 0);
        int left = got > 0 ? static_cast<int>(got) : 0;
        for (auto* h = reinterpret_cast<nlmsghdr*>(answer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY || h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)))
                break; // NLMSG_ERROR: no such socket (it has closed)
            const auto* m = static_cast<const inet_diag_msg*>(NLMSG_DATA(h));
            // The very socket asked for, nothing near it.
            if (m->idiag_family == r.sdiag_family && m->id.idiag_sport == r.id.idiag_sport &&
                m->id.idiag_dport == r.id.idiag_dport &&
                std::memcmp(m->id.idiag_src, r.id.idiag_src, sizeof r.id.idiag_src) == 0 &&
                std::memcmp(m->id.idiag_dst, r.id.idiag_dst, sizeof r.id.idiag_dst) == 0 && ownerKnown(m->idiag_state))
                uid = static_cast<long>(m->idiag_uid);
            break;
        }
    }
    close(fd);
    return uid;
}
#else
std::optional<long> peerUid(const QTcpSocket&)
{
    return std::nullopt;
}
#endif

void accept(int serverId, QTcpServer* listener)
{
    while (QTcpSocket* socket = listener->nextPendingConnection()) {
        const auto s = gServers.find(serverId);
        if (s == gServers.end() || s->second.unregistered) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Outlives its listener (UnregisterTCPServer), until its
        // TCP_DISCONNECT has been delivered.
        socket->setParent(nullptr);
        socket->setReadBufferSize(kReadBufferBytes);
        const int id = nextHandle(gNextClient, gClients);
        Client& c = gClients[id];
        c.server = serverId;
        c.socket = socket;
        c.peer = peerText(*socket);
        // Asked now, while the connecting socket surely lives; its port
        // could later belong to another program's socket.
        c.uid = peerUid(*socket);
        ++s->second.clients;
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [id] { dataArrived(id); });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [id] { peerGone(id); });
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [id, socket] {
            if (socket->state() != QAbstractSocket::ConnectedState)
                peerGone(id);
        });
        makeDue(id, c);
        if (socket->bytesAvailable() > 0)
            dataArrived(id);
        if (socket->state() != QAbstractSocket::ConnectedState)
            peerGone(id);
    }
}

int listenError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return UIE_TCP_ADDRESS_IN_USE;
    case QAbstractSocket::SocketAccessError:
        return UIE_TCP_ACCESS;
    default:
        return UIE_TCP_LISTEN;
    }
}

// A client the program may still read from and write to.
Client* openClient(int id)
{
    Client* c = findClient(id);
    return c && !c->cut && !c->ending ? c : nullptr;
}

} // namespace

void setTcpDeliveryRunning(bool running)
{
    gLoopRunning = running;
    schedulePass();
}

int RegisterTCPServer(int port, tcpFuncPtr callback, void* callbackData)
{
    if (!qApp)
        return UIE_NO_RUNTIME;
    if (port < 1 || port > 65535 || !callback)
        return UIE_BAD_ARGUMENT;
    std::vector<std::unique_ptr<QTcpServer>> listeners;
    for (const QHostAddress& address :
         {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)}) {
        auto listener = std::make_unique<QTcpServer>();
        if (listener->listen(address, static_cast<quint16>(port))) {
            listeners.push_back(std::move(listener));
            continue;
        }
        const QAbstractSocket::SocketError error = listener->serverError();
        // A machine without ::1 is served on 127.0.0.1 alone; a port that
        // another program holds on either is refused, so a script never
        // reaches that program by the name "localhost".
        const bool noSuchAddress = error == QAbstractSocket::SocketAddressNotAvailableError ||
            error == QAbstractSocket::UnsupportedSocketOperationError;
        if (address.protocol() == QAbstractSocket::IPv6Protocol && noSuchAddress)
            continue;
        return listenError(error);
    }
    const int id = nextHandle(gNextServer, gServers);
    Server& server = gServers[id];
    server.callback = callback;
    server.data = callbackData;
    for (auto& owned : listeners) {
        QTcpServer* listener = owned.release();
        QObject::connect(listener, &QTcpServer::newConnection, listener, [id, listener] { accept(id, listener); });
        server.listeners.push_back(listener);
    }
    return id;
}

int UnregisterTCPServer(int server)
{
    const auto s = gServers.find(server);
    if (s == gServers.end() || s->second.unregistered)
        return UIE_TCP_BAD_SERVER;
    s->second.unregistered = true;
    for (QTcpServer* listener : s->second.listeners) {
        listener->close();
        listener->deleteLater();
    }
    s->second.listeners.clear();
    for (auto& [id, c] : gClients)
        if (c.server == server)
            cut(id, c);
    if (s->second.clients == 0)
        gServers.erase(s);
    return 0;
}

int ServerTCPRead(int client, void* buffer, int size)
{
    if (!buffer || size < 0)
        return UIE_BAD_ARGUMENT;
    Client* c = openClient(client);
    if (!c)
        return UIE_TCP_BAD_CLIENT;
    const qint64 got = c->socket->read(static_cast<char*>(buffer), size);
    if (got < 0)
        return c->disconnectDue ? 0 : UIE_TCP_BAD_CLIENT;
    c->awaitingRead = false;
    // What is left is announced again, in a later pass.
    if (c->socket->bytesAvailable() > 0 && !c->dataDue) {
        c->dataDue = true;
        makeDue(client, *c);
    }
    return static_cast<int>(got);
}

int ServerTCPWrite(int client, const void* data, int size)
{
    if (size < 0 || (!data && size > 0))
        return UIE_BAD_ARGUMENT;
    Client* c = openClient(client);
    if (!c)
        return UIE_TCP_BAD_CLIENT;
    if (c->socket->state() != QAbstractSocket::ConnectedState)
        return UIE_TCP_PEER_CLOSED;
    if (size == 0)
        return 0;
    return c->socket->write(static_cast<const char*>(data), size) == size ? size : UIE_TCP_PEER_CLOSED;
}

int GetTCPOutputPending(int client)
{
    Client* c = openClient(client);
    if (!c)
        return UIE_TCP_BAD_CLIENT;
    const qint64 pending = c->socket->bytesToWrite();
    return pending > INT_MAX ? INT_MAX : static_cast<int>(pending);
}

int DisconnectTCPClient(int client)
{
    Client* c = openClient(client);
    if (!c)
        return UIE_TCP_BAD_CLIENT;
    cut(client, *c);
    return 0;
}

int CloseTCPClient(int client)
{
    Client* c = openClient(client);
    if (!c)
        return UIE_TCP_BAD_CLIENT;
    c->cut = true;
    c->dataDue = false;
    // Qt sends what is queued, then the FIN; its disconnected signal then
    // makes the TCP_DISCONNECT due (peerGone), at once when nothing was
    // queued.
    c->socket->disconnectFromHost();
    if (c->socket->state() == QAbstractSocket::UnconnectedState)
        peerGone(client);
    return 0;
}

int GetTCPPeerAddr(int client, char* text, int size)
{
    const Client* c = findClient(client);
    if (!c)
        return UIE_TCP_BAD_CLIENT;
    if (!text || size <= 0 || c->peer.size() >= static_cast<std::size_t>(size))
        return UIE_BAD_ARGUMENT;
    std::memcpy(text, c->peer.c_str(), c->peer.size() + 1);
    return 0;
}

int GetTCPPeerUid(int client, long* uid)
{
    const Client* c = findClient(client);
    if (!c)
        return UIE_TCP_BAD_CLIENT;
    if (!uid)
        return UIE_BAD_ARGUMENT;
    if (!c->uid)
        return UIE_TCP_UID_UNKNOWN;
    *uid = *c->uid;
    return 0;
}

const char* GetTCPErrorString(int code)
{
    switch (code) {
    case UIE_NO_RUNTIME:
        return "the user-interface runtime is not started";
    case UIE_BAD_ARGUMENT:
        return "bad argument";
    case UIE_TCP_ADDRESS_IN_USE:
        return "address already in use";
    case UIE_TCP_ACCESS:
        return "permission denied for the port";
    case UIE_TCP_LISTEN:
        return "cannot listen on the port";
    case UIE_TCP_BAD_SERVER:
        return "no such TCP server";
    case UIE_TCP_BAD_CLIENT:
        return "no such TCP client, or it has disconnected";
    case UIE_TCP_PEER_CLOSED:
        return "the peer has closed the connection";
    case UIE_TCP_UID_UNKNOWN:
        return "the peer's user is unknown";
    case UIE_TCP_NOT_AVAILABLE:
        return "no TCP server in this build";
    default:
        return code >= 0 ? "no error" : "unknown error";
    }
}
