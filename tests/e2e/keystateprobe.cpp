// SPDX-License-Identifier: GPL-3.0-or-later
// The chords' key state as the program builds it, for the tests on desktops
// where the test itself may not read it: prints what the key state reports,
// then "down" and "up" as Caps Lock with A goes down and up, sampled every
// 20 ms.
#include <cstdio>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>

#include "platform/systemkeystate.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    auto keys = systemKeyState(QDBusConnection::sessionBus(), QStringLiteral("org.merlow.merlow"),
                               [](const std::string& message) {
                                   std::printf("said: %s\n", message.c_str());
                                   std::fflush(stdout);
                               });
    if (!keys)
        return 1;
    bool down = false;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        keys->sample();
        const bool now =
            (keys->GetAsyncKeyState(VirtualKey::CapsLock) & keys->GetAsyncKeyState(VirtualKey::A) & keyDownBit) != 0;
        if (now != down) {
            down = now;
            std::printf(down ? "down\n" : "up\n");
            std::fflush(stdout);
        }
    });
    timer.start(20);
    return QCoreApplication::exec();
}
