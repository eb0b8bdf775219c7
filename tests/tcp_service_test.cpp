// The runtime's TCP server, driven through real sockets on the loopback
// interface as a script's client would: events, their order, echoes, the
// peer's user, and no event inside another callback.
#include "process.h"
#include "userint.h"
#include "userint_testing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// A script's end of a connection: a plain blocking socket, which the kernel
// connects before the server has accepted it.
class Peer {
public:
    explicit Peer(int port, bool v6 = false)
    {
        fd_ = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage to{};
        socklen_t length = 0;
        if (v6) {
            auto* a = reinterpret_cast<sockaddr_in6*>(&to);
            a->sin6_family = AF_INET6;
            a->sin6_port = htons(static_cast<uint16_t>(port));
            a->sin6_addr = in6addr_loopback;
            length = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in*>(&to);
            a->sin_family = AF_INET;
            a->sin_port = htons(static_cast<uint16_t>(port));
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *a;
        }
        connected_ = fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&to), length) == 0;
    }
    ~Peer() { close(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool connected() const { return connected_; }
    void send(const std::string& text) { ASSERT_EQ(::send(fd_, text.data(), text.size(), 0), ssize_t(text.size())); }
    // What a send that must not wait takes of `text`: bytes, or -1.
    ssize_t trySend(const std::string& text) { return ::send(fd_, text.data(), text.size(), MSG_DONTWAIT); }
    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    // Takes what has arrived; true once the server has closed.
    bool drain()
    {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            received.append(buffer, static_cast<std::size_t>(n));
        return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
    }
    int localPort() const
    {
        sockaddr_storage self{};
        socklen_t length = sizeof self;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &length);
        return ntohs(self.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&self)->sin6_port
                                                : reinterpret_cast<sockaddr_in*>(&self)->sin_port);
    }

    std::string received;

private:
    int fd_ = -1;
    bool connected_ = false;
};

struct TcpEvent {
    int client, event;
    bool operator==(const TcpEvent&) const = default;
};

// What the server's callback saw; it echoes what it reads unless told not to.
struct Recorder {
    std::vector<TcpEvent> events;
    std::map<int, std::string> got;
    bool echo = true;
    std::function<void(int client, int event)> during;

    std::vector<int> of(int client) const
    {
        std::vector<int> mine;
        for (const TcpEvent& e : events)
            if (e.client == client)
                mine.push_back(e.event);
        return mine;
    }
    long count(int event) const
    {
        return std::count_if(events.begin(), events.end(), [event](const TcpEvent& e) { return e.event == event; });
    }
    // The client handle of `peer`, known once its connect was delivered.
    int clientOf(const Peer& peer, const char* host = "127.0.0.1") const
    {
        const std::string want = std::string(host) + ":" + std::to_string(peer.localPort());
        for (const TcpEvent& e : events) {
            char text[64] = "";
            if (e.event == TCP_CONNECT && GetTCPPeerAddr(e.client, text, sizeof text) == 0 && want == text)
                return e.client;
        }
        return -1;
    }
};

int CVICALLBACK record(int, int client, int event, void* data)
{
    auto* r = static_cast<Recorder*>(data);
    r->events.push_back({client, event});
    if (event == TCP_DATAREADY && r->echo) {
        char buffer[256];
        int n = 0;
        while ((n = ServerTCPRead(client, buffer, sizeof buffer)) > 0) {
            r->got[client].append(buffer, static_cast<std::size_t>(n));
            EXPECT_EQ(ServerTCPWrite(client, buffer, n), n);
        }
    }
    if (r->during)
        r->during(client, event);
    return 0;
}

// Runs the event loop until `done`, or a guard's 10 s against a hang.
bool runUntil(const std::function<bool()>& done)
{
    bool met = false, quitting = false;
    QElapsedTimer since;
    since.start();
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (quitting)
            return;
        met = done();
        if (met || since.elapsed() > 10000) {
            quitting = true;
            QuitUserInterface(0);
        }
    });
    poll.start();
    RunUserInterface();
    return met;
}

// A port nothing listens on now (the kernel's pick).
int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    close(fd);
    return ntohs(a.sin_port);
}

class TcpServer : public testing::Test {
protected:
    void SetUp() override
    {
        for (int attempt = 0; attempt < 20 && server_ < 0; ++attempt) {
            port_ = freePort();
            server_ = RegisterTCPServer(port_, record, &recorder_);
        }
        ASSERT_GE(server_, 0) << GetTCPErrorString(server_);
    }
    void TearDown() override
    {
        uiTestHooks().popup = nullptr;
        recorder_.during = nullptr; // it may see a test's own variables
        if (server_ >= 0)
            UnregisterTCPServer(server_);
        // Every client's disconnect delivered: none reaches a later test.
        runUntil([&] { return recorder_.count(TCP_CONNECT) == recorder_.count(TCP_DISCONNECT); });
    }

    Recorder recorder_;
    int server_ = -1, port_ = 0;
};

} // namespace

TEST_F(TcpServer, ClientsGetConnectDataAndDisconnectInOrderWithTheirBytesEchoed)
{
    Peer a(port_), b(port_), v6(port_, true);
    ASSERT_TRUE(a.connected() && b.connected());
    a.send("*IDN?\n");
    b.send("MEAS:VOLT? (@1)\n");
    if (v6.connected())
        v6.send("six\n");
    ASSERT_TRUE(runUntil([&] {
        a.drain();
        b.drain();
        v6.drain();
        return a.received == "*IDN?\n" && b.received == "MEAS:VOLT? (@1)\n" &&
            (!v6.connected() || v6.received == "six\n");
    }));
    const int ca = recorder_.clientOf(a), cb = recorder_.clientOf(b);
    ASSERT_GE(ca, 0);
    ASSERT_GE(cb, 0);
    EXPECT_NE(ca, cb);
    EXPECT_EQ(recorder_.of(ca), (std::vector<int>{TCP_CONNECT, TCP_DATAREADY}));
    if (v6.connected()) {
        EXPECT_GE(recorder_.clientOf(v6, "[::1]"), 0) << "a ::1 client is told by its IPv6 address";
    }

    // The peer closes: its disconnect comes last and its handle is void.
    a.send("last\n");
    a.close();
    ASSERT_TRUE(runUntil([&] { return recorder_.of(ca).size() >= 3 && recorder_.of(ca).back() == TCP_DISCONNECT; }));
    EXPECT_EQ(recorder_.got[ca], "*IDN?\nlast\n") << "what it sent before closing is read before its disconnect";
    char buffer[8];
    EXPECT_LT(ServerTCPRead(ca, buffer, sizeof buffer), 0);
    EXPECT_LT(ServerTCPWrite(ca, "x", 1), 0);
    EXPECT_LT(GetTCPPeerAddr(ca, buffer, sizeof buffer), 0);

    // The other client is served on.
    b.send("again\n");
    ASSERT_TRUE(runUntil([&] {
        b.drain();
        return b.received == "MEAS:VOLT? (@1)\nagain\n";
    }));
    const std::vector<int> events = recorder_.of(ca);
    EXPECT_EQ(std::count(events.begin(), events.end(), TCP_DISCONNECT), 1);
    EXPECT_EQ(events.back(), TCP_DISCONNECT) << "nothing after the disconnect";
    EXPECT_EQ(GetTCPOutputPending(cb), 0);

    // The program disconnects a client: it sees the end, the program its
    // disconnect.
    ASSERT_EQ(DisconnectTCPClient(cb), 0);
    EXPECT_LT(ServerTCPWrite(cb, "x", 1), 0);
    ASSERT_TRUE(runUntil([&] { return b.drain() && recorder_.of(cb).back() == TCP_DISCONNECT; }));
}

TEST_F(TcpServer, DataIsAnnouncedOnceUntilReadAndWhatIsLeftIsAnnouncedAgain)
{
    recorder_.echo = false;
    Peer a(port_);
    a.send("one\n");
    ASSERT_TRUE(runUntil([&] { return recorder_.count(TCP_DATAREADY) == 1; }));
    a.send("two\n");
    a.send("three\n");
    // Not read: the new bytes raise no new event (a second client's data,
    // sent after them, shows the loop has taken them in).
    Peer probe(port_);
    probe.send("p");
    ASSERT_TRUE(runUntil([&] { return recorder_.count(TCP_DATAREADY) >= 2; }));
    const int ca = recorder_.clientOf(a);
    EXPECT_EQ(recorder_.of(ca), (std::vector<int>{TCP_CONNECT, TCP_DATAREADY}));

    // Read in part: what is left is announced once more.
    char buffer[64] = "";
    ASSERT_EQ(ServerTCPRead(ca, buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "one\n");
    ASSERT_TRUE(runUntil([&] { return recorder_.of(ca).size() == 3; }));
    EXPECT_EQ(recorder_.of(ca).back(), TCP_DATAREADY);
    const int rest = ServerTCPRead(ca, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, std::max(rest, 0)), "two\nthree\n");
    EXPECT_EQ(ServerTCPRead(ca, buffer, sizeof buffer), 0) << "none pending";
}

TEST_F(TcpServer, AClientThatIsNotReadIsHeldBackByTcpInsteadOfBuffered)
{
    recorder_.echo = false;
    Peer a(port_);
    ASSERT_TRUE(runUntil([&] { return recorder_.count(TCP_CONNECT) == 1; }));
    // It sends as fast as it can; nobody reads. Once the kernel's buffers
    // are full its sends stay refused however often the loop turns, where
    // a server taking in everything would let it send on without end.
    const std::string chunk(64 * 1024, 'x');
    constexpr long kWithoutEnd = 256L * 1024 * 1024; // [bytes]
    long sent = 0;
    int refusedInARow = 0;
    ASSERT_TRUE(runUntil([&] {
        const ssize_t n = a.trySend(chunk);
        sent += n > 0 ? n : 0;
        refusedInARow = n > 0 ? 0 : refusedInARow + 1;
        return refusedInARow >= 100 || sent >= kWithoutEnd;
    }));
    EXPECT_LT(sent, kWithoutEnd);
    EXPECT_EQ(recorder_.count(TCP_DATAREADY), 1);
}

TEST_F(TcpServer, AFloodOfClientsIsDeliveredAFewEventsAPassOfTheLoop)
{
    // A timer that fires on every pass of the loop counts the passes.
    int pass = 0;
    QTimer everyPass;
    QObject::connect(&everyPass, &QTimer::timeout, [&] { ++pass; });
    std::vector<int> passOfEvent;
    recorder_.during = [&](int, int) { passOfEvent.push_back(pass); };
    std::vector<std::unique_ptr<Peer>> peers;
    for (int i = 0; i < 20; ++i) {
        peers.push_back(std::make_unique<Peer>(port_));
        peers.back()->send("MEAS:CURR?\n");
    }
    everyPass.start(0);
    ASSERT_TRUE(runUntil([&] { return recorder_.count(TCP_DATAREADY) == 20; }));
    everyPass.stop();
    std::map<int, int> eventsInPass;
    for (int p : passOfEvent)
        ++eventsInPass[p];
    for (const auto& [p, n] : eventsInPass)
        EXPECT_LE(n, 8) << "pass " << p;
}

TEST_F(TcpServer, ABusyPortAndBadArgumentsAreRefusedWithTheirText)
{
    Recorder other;
    const int second = RegisterTCPServer(port_, record, &other);
    EXPECT_EQ(second, UIE_TCP_ADDRESS_IN_USE);
    EXPECT_THAT(GetTCPErrorString(second), testing::HasSubstr("address already in use"));
    for (int port : {0, -1, 65536})
        EXPECT_EQ(RegisterTCPServer(port, record, &other), UIE_BAD_ARGUMENT) << port;
    EXPECT_EQ(RegisterTCPServer(port_ == 65535 ? 65534 : port_ + 1, nullptr, &other), UIE_BAD_ARGUMENT);

    char text[4];
    long uid = 0;
    for (int gone : {-1, 123456}) {
        EXPECT_LT(ServerTCPRead(gone, text, sizeof text), 0);
        EXPECT_LT(ServerTCPWrite(gone, "x", 1), 0);
        EXPECT_LT(GetTCPOutputPending(gone), 0);
        EXPECT_LT(DisconnectTCPClient(gone), 0);
        EXPECT_LT(GetTCPPeerUid(gone, &uid), 0);
        EXPECT_LT(UnregisterTCPServer(gone), 0);
    }
    Peer a(port_);
    ASSERT_TRUE(runUntil([&] { return recorder_.clientOf(a) >= 0; }));
    EXPECT_EQ(GetTCPPeerAddr(recorder_.clientOf(a), text, sizeof text), UIE_BAD_ARGUMENT)
        << "an address cut short would be a wrong one";
}

TEST_F(TcpServer, UnregisteringDisconnectsEveryClientAndFreesThePort)
{
    Peer a(port_), b(port_);
    ASSERT_TRUE(runUntil([&] { return recorder_.count(TCP_CONNECT) == 2; }));
    const int clients[] = {recorder_.clientOf(a), recorder_.clientOf(b)};
    ASSERT_EQ(UnregisterTCPServer(server_), 0);
    EXPECT_EQ(UnregisterTCPServer(server_), UIE_TCP_BAD_SERVER);
    ASSERT_TRUE(runUntil([&] { return recorder_.count(TCP_DISCONNECT) == 2 && a.drain() && b.drain(); }));
    for (const int client : clients)
        EXPECT_EQ(recorder_.of(client), (std::vector<int>{TCP_CONNECT, TCP_DISCONNECT})) << client;
    EXPECT_FALSE(Peer(port_).connected()) << "nothing listens any more";

    server_ = RegisterTCPServer(port_, record, &recorder_);
    EXPECT_GE(server_, 0) << GetTCPErrorString(server_);
}

TEST_F(TcpServer, ThePeersUidIsTheConnectingProcesssUser)
{
    Peer a(port_), v6(port_, true);
    ASSERT_TRUE(runUntil([&] { return recorder_.count(TCP_CONNECT) == (v6.connected() ? 2 : 1); }));
    for (const TcpEvent& e : recorder_.events) {
        long uid = -1;
        ASSERT_EQ(GetTCPPeerUid(e.client, &uid), 0) << GetTCPErrorString(GetTCPPeerUid(e.client, &uid));
        EXPECT_EQ(uid, static_cast<long>(getuid()));
    }
}

TEST_F(TcpServer, AClientRunAsAnotherUserIsToldByItsUid)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "running a client as another user needs root";
    std::map<int, long> uids;
    recorder_.during = [&](int client, int event) {
        if (event == TCP_CONNECT)
            GetTCPPeerUid(client, &uids[client]);
    };
    const std::string script = "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(port_) +
        " && echo nobody >&3 && read -t 10 reply <&3 && [ \"$reply\" = nobody ]";
    const pid_t child = fork();
    if (child == 0)
        execChild({"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/bin/bash", "-c", script});
    ASSERT_GT(child, 0);
    int status = -1;
    const bool ended = runUntil([&] { return waitpid(child, &status, WNOHANG) == child; });
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the client got its echo";
    ASSERT_EQ(uids.size(), 1u);
    EXPECT_EQ(uids.begin()->second, 65534);
}

TEST_F(TcpServer, NoEventComesWhileACallbackSpinsTheLoop)
{
    // Ways a callback turns the loop: waiting for its instrument, and a
    // pop-up (a modal box turns the loop until dismissed; here the hook
    // turns it for a while).
    const std::vector<std::function<void()>> spinners = {
        [] {
            CallInstrument(
                "a slow supply",
                [](void*) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(300));
                    return 0;
                },
                nullptr);
        },
        [] { MessagePopup("Warning", "spins"); },
    };
    uiTestHooks().popup = [](const std::string&, const std::string&) {
        QElapsedTimer shown;
        shown.start();
        while (shown.elapsed() < 300)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    for (std::size_t k = 0; k < spinners.size(); ++k) {
        SCOPED_TRACE(k);
        recorder_.events.clear();
        Peer a(port_);
        std::vector<Peer*> others;
        bool inside = false;
        std::size_t seenInside = 0;
        recorder_.during = [&](int, int event) {
            if (inside) {
                ++seenInside;
                return;
            }
            if (event != TCP_DATAREADY || !others.empty())
                return;
            inside = true;
            // Others connect and send while this callback runs.
            others = {new Peer(port_), new Peer(port_)};
            for (Peer* p : others)
                p->send("meanwhile\n");
            a.send("more\n");
            const std::size_t before = recorder_.events.size();
            spinners[k]();
            seenInside = recorder_.events.size() - before;
            inside = false;
        };
        a.send("start\n");
        ASSERT_TRUE(runUntil([&] {
            for (Peer* p : others)
                p->drain();
            return others.size() == 2 && others[0]->received == "meanwhile\n" && others[1]->received == "meanwhile\n";
        }));
        EXPECT_EQ(seenInside, 0u) << "a TCP event was delivered inside a running callback";
        for (Peer* p : others)
            delete p;
        a.close();
        recorder_.during = nullptr;
        ASSERT_TRUE(runUntil([&] { return recorder_.count(TCP_CONNECT) == recorder_.count(TCP_DISCONNECT); }));
    }
}
