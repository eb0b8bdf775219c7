// A SCPI client that asks and waits, as a script does, with nothing of its
// own in the way: the round trip it measures is railmon's answer plus the
// loopback's, not an interpreter's.
//
//   scpi_client PORT COMMAND SECONDS
//
// prints "answers N per_second R median_us M p99_us P".
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int connectTo(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<unsigned short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return -1;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// Reads up to and including the answer's LF; false when the connection ends.
bool readAnswer(int fd, std::string& pending)
{
    char buffer[4096];
    for (;;) {
        if (const auto end = pending.find('\n'); end != std::string::npos) {
            pending.erase(0, end + 1);
            return true;
        }
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return false;
        pending.append(buffer, static_cast<size_t>(got));
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: scpi_client PORT COMMAND SECONDS\n");
        return 2;
    }
    const int fd = connectTo(std::atoi(argv[1]));
    if (fd < 0) {
        std::perror("scpi_client: connect");
        return 1;
    }
    const std::string command = std::string(argv[2]) + "\n";
    const auto length = std::chrono::duration<double>(std::atof(argv[3]));
    std::vector<double> trips; // [us]
    std::string pending;
    const auto start = Clock::now();
    while (Clock::now() - start < length) {
        const auto asked = Clock::now();
        if (write(fd, command.data(), command.size()) != static_cast<ssize_t>(command.size()) ||
            !readAnswer(fd, pending)) {
            std::fprintf(stderr, "scpi_client: the connection ended\n");
            return 1;
        }
        trips.push_back(std::chrono::duration<double, std::micro>(Clock::now() - asked).count());
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    std::sort(trips.begin(), trips.end());
    std::printf("answers %zu per_second %.0f median_us %.1f p99_us %.1f\n", trips.size(), trips.size() / seconds,
                trips[trips.size() / 2], trips[trips.size() * 99 / 100]);
    return 0;
}
