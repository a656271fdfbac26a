// SPDX-License-Identifier: GPL-3.0-or-later
#include "decode/decodelog.h"

Q_LOGGING_CATEGORY(decodeLog, "merlow.decode", QtWarningMsg)
