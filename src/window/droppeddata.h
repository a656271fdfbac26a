// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

#include <QString>
#include <QStringList>
#include <Qt>

class QMimeData;

// What a drop carried, kept after the drop itself has ended: its local files
// in the order the source gave them, and the formats it offered.
class DroppedData {
public:
    static DroppedData from(const QMimeData& data);
    static bool carriesLocalFile(const QMimeData& data);

    int fileCount() const { return static_cast<int>(files_.size()); }
    // Items count from 1.
    QString file(int index) const;
    bool offersFormat(int clipboardFormat) const;

private:
    QStringList files_;
    QStringList formats_;
};

// The MIME type a desktop drag carries for a clipboard format number.
QString mimeTypeForClipboardFormat(int clipboardFormat);

// The action to answer a drag with: copy, or link where that is all the
// source offers; never move, so the source never deletes the user's file.
std::optional<Qt::DropAction> safeDropAction(Qt::DropActions offered);
