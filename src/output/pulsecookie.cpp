// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/pulsecookie.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <pulse/context.h>

#include "output/outputlog.h"

namespace {

// The cookie files libpulse reads without creating them, where it looks for
// them: in the user's configuration folder, then in the home folder.
bool userCookieExists()
{
    const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return QFileInfo::exists(configHome + QStringLiteral("/pulse/cookie"))
           || QFileInfo::exists(QDir::homePath() + QStringLiteral("/.pulse-cookie"));
}

} // namespace

void readCookieWithoutCreating(pa_context* context)
{
    if (userCookieExists())
        return;
    qCDebug(outputLog) << "no cookie for the sound server: connecting without one";
    if (pa_context_load_cookie_from_file(context, "/dev/zero") < 0)
        qCDebug(outputLog) << "cannot tell libpulse to connect without a cookie";
}
