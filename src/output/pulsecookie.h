// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

struct pa_context;

// Before `context` connects: libpulse reads the cookie that authenticates
// this client where one exists, and never creates one.
//
// libpulse looks for the cookie in PULSE_COOKIE's file, the X11 display's
// property, the application's file, client.conf's cookie-file, then
// ~/.config/pulse/cookie and ~/.pulse-cookie; where it finds none, it creates
// ~/.config/pulse/cookie. So where neither of the user's cookie files exists,
// the application's file is /dev/zero: libpulse reads from it the cookie of
// zeros it would send for want of one, which a server that needs no cookie
// accepts, and stops looking. Where one exists, libpulse reads it as it would.
void readCookieWithoutCreating(pa_context* context);
