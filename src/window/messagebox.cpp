// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/messagebox.h"

#include <QMessageBox>

QString applicationTitle()
{
    return QStringLiteral("Merlow");
}

void showMessageBox(QWidget* parent, const QString& text)
{
    QMessageBox box(parent);
    box.setWindowTitle(applicationTitle());
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    box.setText(text);
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}
