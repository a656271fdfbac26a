// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusAbstractAdaptor>
#include <QStringList>

class QWidget;

// org.mpris.MediaPlayer2: who the player is, and raising or closing its
// window. It opens nothing by URI, so it names no schemes or types.
class RootAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)
public:
    RootAdaptor(QWidget& window, QObject* exported);

    static bool canQuit() { return true; }
    static bool canRaise() { return true; }
    static bool hasTrackList() { return false; }
    static QString identity();
    static QString desktopEntry();
    static QStringList supportedUriSchemes() { return {}; }
    static QStringList supportedMimeTypes() { return {}; }

public slots:
    void Raise();
    void Quit();

private:
    QWidget& window_;
};
