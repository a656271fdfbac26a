// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "desk.h"
#include "remote.h"

// Merlow driven as a user drives it: its buttons clicked, files dragged onto
// its label.
class MerlowByMouse : public Remote {
public:
    MerlowByMouse(Desk& desk, Window window) : desk_(desk), window_(window) {}

    bool load(const std::string& file) override { return desk_.drop(window_, file); }
    // The buttons' middles, as the window lays them out.
    bool resume() override { return desk_.click(window_, 36, 16); }
    bool pause() override { return desk_.click(window_, 116, 16); }
    bool stop() override { return desk_.click(window_, 196, 16); }

private:
    Desk& desk_;
    Window window_;
};
