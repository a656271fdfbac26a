// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/displaycheck.h"

#include <algorithm>
#include <cstdlib>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QLibraryInfo>
#include <QString>
#include <QStringList>

#include <X11/Xlib.h>

namespace {

std::string variable(const char* name)
{
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

bool isSet(const char* name)
{
    return !variable(name).empty();
}

// Where Qt looks for its platform plugins.
QStringList platformPluginFolders()
{
    QStringList folders{QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms")};
    if (isSet("QT_QPA_PLATFORM_PLUGIN_PATH"))
        folders.append(qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH"));
    for (const QString& folder : qEnvironmentVariable("QT_PLUGIN_PATH").split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.append(folder + QStringLiteral("/platforms"));
    return folders;
}

bool waylandPluginInstalled()
{
    const QStringList folders = platformPluginFolders();
    return std::any_of(folders.begin(), folders.end(), [](const QString& folder) {
        return !QDir(folder).entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty();
    });
}

// As libwayland-client finds the compositor's socket.
bool waylandAccepts(const std::string& name)
{
    std::string path = name;
    if (name.front() != '/') {
        if (!isSet("XDG_RUNTIME_DIR"))
            return false;
        path = variable("XDG_RUNTIME_DIR") + "/" + name;
    }
    sockaddr_un address{};
    if (path.size() >= sizeof(address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool accepted = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return accepted;
}

bool x11Accepts()
{
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr)
        return false;
    XCloseDisplay(display);
    return true;
}

} // namespace

bool chooseDisplay(std::string& error)
{
    if (isSet("QT_QPA_PLATFORM"))
        return true;
    std::string waylandError;
    if (isSet("WAYLAND_DISPLAY")) {
        const std::string name = variable("WAYLAND_DISPLAY");
        const bool pluginInstalled = waylandPluginInstalled();
        if (pluginInstalled && waylandAccepts(name))
            return true;
        waylandError = "cannot open a window on Wayland: "
                       + (pluginInstalled ? "cannot connect to the Wayland display " + name
                                          : "Qt's Wayland platform plugin is not installed (Debian's package qt6-wayland)")
                       + ", and ";
    }
    if (!isSet("DISPLAY")) {
        error = waylandError.empty() ? "no display: DISPLAY and WAYLAND_DISPLAY are not set"
                                     : waylandError + "there is no X server for XWayland windows (DISPLAY is not set)";
        return false;
    }
    if (!x11Accepts()) {
        error = waylandError + "cannot connect to display " + variable("DISPLAY");
        return false;
    }
    if (!waylandError.empty())
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    return true;
}
