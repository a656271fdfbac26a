// SPDX-License-Identifier: GPL-3.0-or-later
#include "mpris/mprislog.h"

Q_LOGGING_CATEGORY(mprisLog, "merlow.mpris", QtWarningMsg)
