#include <cstdio>
#include <string>

#include <QApplication>
#include <QIcon>

#include "platform/displaycheck.h"
#include "platform/keystate.h"
#include "window/form1.h"
#include "window/messagebox.h"

int main(int argc, char* argv[])
{
    std::string reason;
    if (!displayAvailable(reason)) {
        std::fprintf(stderr, "merlow: %s\n", reason.c_str());
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(applicationTitle());
    // Ties the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(MERLOW_APP_ID));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/" MERLOW_APP_ID ".png")));
    std::unique_ptr<KeyStateSource> keys = systemKeyState(reason);
    if (!keys)
        std::fprintf(stderr, "merlow: the Caps Lock chords are unavailable: %s\n", reason.c_str());
    Form1 window(nullptr, std::move(keys));
    window.show();
    return QApplication::exec();
}
