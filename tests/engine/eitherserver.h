// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "harness/pipewireserver.h"
#include "harness/soundserver.h"

// The tests that hear the engine through each kind of sound server a desktop
// runs: a PulseAudio server of the test's own, or PipeWire with its
// PulseAudio service as Debian 12 runs them. Each has a sink named "null".
enum class Server { PulseAudio, PipeWire };

class EitherServer {
public:
    explicit EitherServer(Server server)
    {
        if (server == Server::PulseAudio)
            pulseAudio_ = std::make_unique<SoundServer>();
        else
            pipeWire_ = std::make_unique<PipeWireServer>();
    }

    bool isPipeWire() const { return pipeWire_ != nullptr; }

    std::vector<std::pair<std::string, std::string>> clientEnvironment() const
    {
        return pulseAudio_ ? pulseAudio_->clientEnvironment() : pipeWire_->clientEnvironment();
    }

    // PipeWire as a desktop's client finds it, by the runtime folder alone;
    // PulseAudio named, as the test's own server has no runtime folder.
    std::vector<std::pair<std::string, std::string>> desktopEnvironment() const
    {
        return pulseAudio_ ? pulseAudio_->clientEnvironment() : pipeWire_->desktopEnvironment();
    }

    void useInThisProcess() const
    {
        for (const auto& [name, value] : clientEnvironment())
            setenv(name.c_str(), value.c_str(), 1);
    }

    // Each kind, for INSTANTIATE_TEST_SUITE_P, and the name of each test after it.
    static auto each() { return ::testing::Values(Server::PulseAudio, Server::PipeWire); }
    static std::string name(const ::testing::TestParamInfo<Server>& info)
    {
        return info.param == Server::PulseAudio ? "PulseAudio" : "PipeWire";
    }

private:
    std::unique_ptr<SoundServer> pulseAudio_;
    std::unique_ptr<PipeWireServer> pipeWire_;
};
