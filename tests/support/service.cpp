#include "service.h"

#include "process.h"

#include <chrono>
#include <csignal>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

Service::Service(const std::vector<std::string>& argv, const std::string& logPath)
{
    pid_ = fork();
    if (pid_ == 0) {
        const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, 1);
        dup2(log, 2);
        execChild(argv);
    }
}

Service::~Service()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 50; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

bool Service::running() const
{
    return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0;
}

int freeLoopbackPort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    close(s);
    return port;
}

std::string httpGet(const std::string& url)
{
    const ProcessResult result = runProcess({"/usr/bin/curl", "-s", "-f", "--max-time", "5", url}, {}, 10000);
    return result.exitCode == 0 ? result.out : std::string();
}
