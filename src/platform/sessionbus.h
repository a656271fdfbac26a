// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whether a session bus can be found without starting one: its address is
// set, or the runtime folder holds the user's bus.
bool sessionBusKnown();

// Where no session bus is known, says so to libdbus, so that whatever asks
// for the bus (Qt's accessibility bridge does, as the window is built) is
// told at once there is none. libdbus would otherwise fork dbus-launch to
// start a bus for the X display: a fork from a process whose threads
// already run, and a daemon left behind when the player has gone. Call it
// before anything asks for the bus.
void refuseSessionBusLaunch();
