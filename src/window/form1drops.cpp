// SPDX-License-Identifier: GPL-3.0-or-later
// Loading by drop: files dropped on the label, and the format probe for
// drops anywhere else on the window.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>

#include "engine/mediaengine.h"
#include "filecheck/boundedcheck.h"
#include "window/droppeddata.h"
#include "window/form1.h"

namespace {

constexpr int probedClipboardFormat = 255;
// A file whose check takes longer is one that cannot be opened.
constexpr std::chrono::seconds checkLimit{1};

// Answers a drag with a safe action when `wanted`, else refuses it.
bool answerDrag(QDropEvent* event, bool wanted)
{
    const std::optional<Qt::DropAction> action = safeDropAction(event->possibleActions());
    if (!wanted || !action) {
        event->ignore();
        return false;
    }
    event->setDropAction(*action);
    event->accept();
    return true;
}

} // namespace

bool Form1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != Label1)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* drag = static_cast<QDragMoveEvent*>(event);
        answerDrag(drag, DroppedData::carriesLocalFile(*drag->mimeData()));
        return true;
    }
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (answerDrag(drop, DroppedData::carriesLocalFile(*drop->mimeData())))
            deferDropHandler(DroppedData::from(*drop->mimeData()), &Form1::Label1_DragDrop);
        return true;
    }
    default:
        return QWidget::eventFilter(watched, event);
    }
}

// A drag the label refused comes on to the window; it stays refused there.
bool Form1::overLabel(const QDropEvent* event) const
{
    return Label1->geometry().contains(event->position().toPoint());
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    answerDrag(event, !overLabel(event));
}

void Form1::dragMoveEvent(QDragMoveEvent* event)
{
    answerDrag(event, !overLabel(event));
}

void Form1::dropEvent(QDropEvent* event)
{
    if (answerDrag(event, !overLabel(event)))
        deferDropHandler(DroppedData::from(*event->mimeData()), &Form1::Form1_DragDrop);
}

// The handler runs once the drop has been acknowledged, so a message box it
// shows does not hold up the program the file was dragged from.
void Form1::deferDropHandler(DroppedData data, void (Form1::*handler)(const DroppedData&))
{
    QMetaObject::invokeMethod(
        this, [this, data = std::move(data), handler] { runHandler([&] { (this->*handler)(data); }); },
        Qt::QueuedConnection);
}

void Form1::Label1_DragDrop(const DroppedData& data)
{
    std::optional<TruthWord> passed;
    try {
        // The window's events go on while the file is read.
        passed = CheckMP3HeaderWithin(data.file(1), checkLimit);
    } catch (const FileCheckError& error) {
        // The file cannot be read: say why, and leave everything as it was.
        showMessage(QStringLiteral("Cannot open \"%1\": %2").arg(data.file(1), QString::fromStdString(error.what())));
        return;
    }
    // The program is ending.
    if (!passed)
        return;
    if (*passed == TruthTrue) {
        emit openingFile(data.file(1));
        MediaPlayer1->setFileName(data.file(1));
    } else {
        showMessage(QStringLiteral("Invalid MP3 File !"));
    }
    Text1->setText(data.file(1));
}

void Form1::Form1_DragDrop(const DroppedData& data)
{
    showMessage(data.offersFormat(probedClipboardFormat) ? QStringLiteral("True") : QStringLiteral("False"));
}
