// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

inline QString testFile(const char* name)
{
    return QStringLiteral(MERLOW_TESTDATA_DIR "/") + QLatin1String(name);
}
