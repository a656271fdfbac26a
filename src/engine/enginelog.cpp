// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/enginelog.h"

Q_LOGGING_CATEGORY(engineLog, "merlow.engine", QtWarningMsg)
