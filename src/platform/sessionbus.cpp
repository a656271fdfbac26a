// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/sessionbus.h"

#include <QFileInfo>
#include <QString>

namespace {

constexpr char addressVariable[] = "DBUS_SESSION_BUS_ADDRESS";
// An address of no transport libdbus knows: connecting fails at once.
constexpr char noBus[] = "disabled:";

} // namespace

bool sessionBusKnown()
{
    const QByteArray address = qgetenv(addressVariable);
    if (!address.isEmpty())
        return address != noBus;
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtimeDir.isEmpty() && QFileInfo::exists(runtimeDir + QStringLiteral("/bus"));
}

void refuseSessionBusLaunch()
{
    if (!sessionBusKnown())
        qputenv(addressVariable, noBus);
}
