// SPDX-License-Identifier: GPL-3.0-or-later
#include <cstdio>
#include <string>

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>

#include "decode/mpg123decoder.h"
#include "engine/mediaplayer.h"
#include "mpris/mprisservice.h"
#include "output/systemoutput.h"
#include "platform/displaycheck.h"
#include "platform/systemkeystate.h"
#include "platform/sessionbus.h"
#include "platform/x11closerequests.h"
#include "window/form1.h"
#include "window/messagebox.h"

int main(int argc, char* argv[])
{
    std::string error;
    if (!chooseDisplay(error)) {
        std::fprintf(stderr, "merlow: %s\n", error.c_str());
        return 1;
    }
    refuseSessionBusLaunch();
    QApplication app(argc, argv);
    QApplication::setApplicationName(applicationTitle());
    // Ties the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(MERLOW_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/" MERLOW_APP_ID ".png")));
    std::unique_ptr<KeyStateSource> keys =
        systemKeyState(QDBusConnection::sessionBus(), QStringLiteral(MERLOW_APP_ID),
                       [](const std::string& message) { std::fprintf(stderr, "merlow: %s\n", message.c_str()); });
    // MP3 files decoded by libmpg123, played through the sound server or ALSA.
    // The sound server's mixer shows it under the desktop entry's name and id.
    auto* engine = new MediaPlayer(systemOutput(ApplicationIdentity{"Merlow", MERLOW_APP_ID}),
                                   &Mpg123Decoder::open);
    Form1 window(engine, std::move(keys));
    window.show();
    // A window manager's close ends the program even while a box is up.
    const std::unique_ptr<X11CloseRequests> closeRequests = X11CloseRequests::watch(window.windowHandle());
    MprisService mediaControls(window, *engine);
    QString busError;
    if (!mediaControls.publish(busError))
        std::fprintf(stderr, "merlow: the desktop's media controls are unavailable: %s\n", qPrintable(busError));
    // Closing the window ends the program at once. Qt's own quit on the last
    // window is posted, and an event loop entered before it is delivered (a
    // message box's) would drop it.
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, [] { QCoreApplication::exit(0); });
    return QApplication::exec();
}
