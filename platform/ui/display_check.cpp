#include "display_check.h"

#ifdef _WIN32
// A Windows session always has a desktop to show a window on.
std::string displayProblem(char*[])
{
    return {};
}

// Qt's vnc platform is built for Unix systems only.
std::string refusedPlatform(char*[])
{
    return {};
}
#else

#include <QByteArray>
#include <QDir>
#include <QLibraryInfo>
#include <QList>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QByteArray env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? QByteArray(value) : QByteArray();
}

// The platform list Qt 6 tries, in order: -platform (or --platform), else
// QT_QPA_PLATFORM, else the session type's platform, else xcb (Debian's
// default).
QList<QByteArray> platformCandidates(char* argv[])
{
    QByteArray chosen = "xcb";
    const QByteArray session = env("XDG_SESSION_TYPE");
    const QByteArray desktop = env("XDG_CURRENT_DESKTOP").toLower() + env("XDG_SESSION_DESKTOP").toLower();
    // Qt ignores a Wayland session under GNOME and stays with xcb there.
    if (session == "wayland" && !desktop.contains("gnome"))
        chosen = "wayland";
    if (const QByteArray fromEnv = env("QT_QPA_PLATFORM"); !fromEnv.isEmpty())
        chosen = fromEnv;
    for (char** arg = argv; arg && *arg; ++arg) {
        if ((std::strcmp(*arg, "-platform") == 0 || std::strcmp(*arg, "--platform") == 0) && arg[1])
            chosen = arg[1];
    }
    QList<QByteArray> names;
    for (const QByteArray& entry : chosen.split(';')) {
        const QByteArray name = entry.split(':').first().trimmed();
        if (!name.isEmpty())
            names << name;
    }
    return names;
}

std::string xcbProblem()
{
    const QByteArray display = env("DISPLAY");
    if (display.isEmpty())
        return "DISPLAY is not set";
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(display.constData(), &screen);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    if (failed)
        return "DISPLAY '" + display.toStdString() + "' names no X server that lets this program in";
    return {};
}

bool socketAnswers(const QByteArray& path)
{
    sockaddr_un address{};
    if (path.size() >= static_cast<qsizetype>(sizeof address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

std::string waylandProblem(const QByteArray& platform)
{
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
    const QStringList found =
        QDir(plugins).entryList({QStringLiteral("libq%1.so").arg(QString::fromLatin1(platform))}, QDir::Files);
    if (found.isEmpty())
        return "Qt's " + platform.toStdString() + " platform plugin is not installed";
    QByteArray socketName = env("WAYLAND_DISPLAY");
    if (socketName.isEmpty())
        socketName = "wayland-0";
    const QByteArray path = socketName.startsWith('/') ? socketName : env("XDG_RUNTIME_DIR") + "/" + socketName;
    if (!socketAnswers(path))
        return "no Wayland compositor answers at " + path.toStdString();
    return {};
}

} // namespace

std::string displayProblem(char* argv[])
{
    std::string problems;
    for (const QByteArray& platform : platformCandidates(argv)) {
        std::string problem;
        if (platform == "xcb")
            problem = xcbProblem();
        else if (platform.startsWith("wayland"))
            problem = waylandProblem(platform);
        if (problem.empty())
            return {};
        problems += (problems.empty() ? "" : "; ") + problem;
    }
    return problems.empty() ? std::string("no windowing platform is named") : problems;
}

std::string refusedPlatform(char* argv[])
{
    for (const QByteArray& platform : platformCandidates(argv))
        if (platform == "vnc")
            return "refusing Qt's vnc platform: it asks no password and listens on every network interface, so "
                   "anyone who can reach this computer could switch the supply's outputs";
    return {};
}
#endif
