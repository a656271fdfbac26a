// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/systemoutput.h"

#include "output/alsaoutput.h"
#include "output/firstworkingoutput.h"
#include "output/pipewireoutput.h"
#include "output/pulseoutput.h"

std::unique_ptr<AudioOutput> systemOutput(const ApplicationIdentity& identity)
{
    // Tried in this order: a backend is a file of its own and a line here.
    std::vector<std::unique_ptr<AudioOutput>> backends;
    backends.push_back(std::make_unique<PipeWireOutput>(identity));
    backends.push_back(std::make_unique<PulseOutput>(identity));
    backends.push_back(std::make_unique<AlsaOutput>());
    return std::make_unique<FirstWorkingOutput>(std::move(backends));
}
