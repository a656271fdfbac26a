// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/windowlog.h"

Q_LOGGING_CATEGORY(windowLog, "merlow.window", QtWarningMsg)
