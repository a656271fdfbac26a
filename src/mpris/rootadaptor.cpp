// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpris/rootadaptor.h"

#include <QGuiApplication>
#include <QWidget>

RootAdaptor::RootAdaptor(QWidget& window, QObject* exported) : QDBusAbstractAdaptor(exported), window_(window) {}

QString RootAdaptor::identity()
{
    return QStringLiteral("Merlow");
}

QString RootAdaptor::desktopEntry()
{
    return QGuiApplication::desktopFileName();
}

void RootAdaptor::Raise()
{
    window_.setWindowState(window_.windowState() & ~Qt::WindowMinimized);
    window_.show();
    window_.raise();
    window_.activateWindow();
}

void RootAdaptor::Quit()
{
    // Closing the window ends the program, as its close button does.
    window_.close();
}
