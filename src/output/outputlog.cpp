// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/outputlog.h"

Q_LOGGING_CATEGORY(outputLog, "merlow.output", QtWarningMsg)
