// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>
#include <vector>

#include <QLineEdit>
#include <gtest/gtest.h>

#include "engine/mediaengine.h"
#include "harness/testsink.h"
#include "support/drops.h"
#include "support/systemmediaplayer.h"
#include "window/form1.h"

// The window on the real engine, playing through the test's sound server,
// its messages noted instead of shown, and drops delivered through its
// native window as the window system would deliver them.
class WindowOnEngine {
protected:
    WindowOnEngine()
    {
        audio.useInThisProcess();
        window = std::make_unique<Form1>(new SystemMediaPlayer);
        window->setMessagePresenter([this](const QString& text) { messages.push_back(text); });
        window->show();
    }

    Qt::DropAction dropAt(QPoint at, const QMimeData& data, Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
    {
        return dropOnWindow(*window, at, data, offered);
    }
    Qt::DropAction dropOnLabel(const QMimeData& data, Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
    {
        return dropAt(labelCentre, data, offered);
    }

    QString pathBox() const { return window->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(); }
    MediaEngine* engine() const { return window->findChild<MediaEngine*>(QStringLiteral("MediaPlayer1")); }

    TestSink audio;
    std::unique_ptr<Form1> window;
    std::vector<QString> messages;
};
