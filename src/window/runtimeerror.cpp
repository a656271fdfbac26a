// SPDX-License-Identifier: GPL-3.0-or-later
#include "window/runtimeerror.h"

#include <exception>
#include <new>

namespace {
QString report(int number, const QString& description)
{
    return QStringLiteral("Run-time error %1:\n\n%2").arg(number).arg(description);
}
} // namespace

QString describeCurrentException()
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return report(RuntimeErrorNumber::OutOfMemory, QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        return report(RuntimeErrorNumber::Internal, QString::fromStdString(e.what()));
    } catch (...) {
        return report(RuntimeErrorNumber::Internal, QStringLiteral("Unknown error"));
    }
}
