// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

class QWidget;

// The title that captions the application's message boxes.
QString applicationTitle();

// A modal box with the text shown literally, one OK button, no icon.
void showMessageBox(QWidget* parent, const QString& text);
