// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// The numbers the error report shows for a failure inside an event handler.
namespace RuntimeErrorNumber {
inline constexpr int Internal = 1;
inline constexpr int OutOfMemory = 2;
}

// The report text for the exception being handled; call only inside a catch.
QString describeCurrentException();
