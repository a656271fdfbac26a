// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>
#include <QWindow>

inline std::unique_ptr<QMimeData> filesData(const QStringList& paths)
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (const QString& path : paths)
        urls.append(QUrl::fromLocalFile(path));
    data->setUrls(urls);
    return data;
}

// Drags onto the point `at` of a shown window and drops, delivered through
// its native window as the window system would; returns the action the
// window answered with, IgnoreAction if it refused.
inline Qt::DropAction dropOnWindow(QWidget& window, QPoint at, const QMimeData& data,
                                   Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
{
    QWindow* native = window.windowHandle();
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(native, &enter);
    if (!enter.isAccepted())
        return Qt::IgnoreAction;
    QDropEvent drop(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(native, &drop);
    // The handler runs just after the drop.
    QCoreApplication::processEvents();
    return drop.isAccepted() ? drop.dropAction() : Qt::IgnoreAction;
}

// The middle of the label.
inline constexpr QPoint labelCentre{350, 20};
