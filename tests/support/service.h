// Programs a test starts beside railmon and stops after it (a metrics
// collector, a Prometheus), on loopback ports of their own.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

class Service {
public:
    // Starts argv[0] (a full path) with its output to `logPath`.
    Service(const std::vector<std::string>& argv, const std::string& logPath);
    ~Service(); // SIGTERM, and SIGKILL if it has not gone within 5 s
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
    bool running() const;

private:
    pid_t pid_ = -1;
};

// A TCP port on 127.0.0.1 that nothing listens on at the moment of asking.
int freeLoopbackPort();

// The body of an HTTP GET, or empty when the request failed.
std::string httpGet(const std::string& url);
