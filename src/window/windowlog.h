// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QLoggingCategory>

// "merlow.window": debug messages only, off unless QT_LOGGING_RULES turns them on.
Q_DECLARE_LOGGING_CATEGORY(windowLog)
