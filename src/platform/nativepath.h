// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include <QByteArrayView>
#include <QString>

// File names on Linux are bytes, and not every name is UTF-8. A name is held
// in a QString as its UTF-8 text, with each byte that is not part of valid
// UTF-8 kept as a lone surrogate U+DC80..U+DCFF, so that any name survives
// the trip to the window and back to the file system unchanged.
QString pathFromNative(QByteArrayView name);
std::string nativeFromPath(const QString& path);
