// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/displaycheck.h"

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

bool isSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
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
    for (const QString& folder : platformPluginFolders()) {
        if (!QDir(folder).entryList({QStringLiteral("libqwayland*.so")}, QDir::Files).isEmpty())
            return true;
    }
    return false;
}

// As libwayland-client finds the compositor's socket.
bool waylandAccepts(const std::string& name)
{
    std::string path = name;
    if (name.front() != '/') {
        if (!isSet("XDG_RUNTIME_DIR"))
            return false;
        path = std::string(std::getenv("XDG_RUNTIME_DIR")) + "/" + name;
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
        const std::string name = std::getenv("WAYLAND_DISPLAY");
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
        error = waylandError + "cannot connect to display " + std::getenv("DISPLAY");
        return false;
    }
    if (!waylandError.empty())
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    return true;
}
