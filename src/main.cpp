#include <cstdio>
#include <string>

#include <QApplication>

#include "platform/displaycheck.h"
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
    Form1 window;
    window.show();
    return QApplication::exec();
}
