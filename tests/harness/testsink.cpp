// SPDX-License-Identifier: GPL-3.0-or-later
#include "harness/testsink.h"

#include <cstdlib>

SoundServer& TestSink::server()
{
    static SoundServer shared;
    return shared;
}

TestSink::TestSink() : recording_(server(), dir_.file("sink.raw")) {}

TestSink::TestSink(const std::vector<std::pair<std::string, std::string>>& serverEnvironment)
    : recording_(serverEnvironment, dir_.file("sink.raw"))
{
}

void TestSink::useInThisProcess()
{
    server().useInThisProcess();
}

std::vector<std::pair<std::string, std::string>> TestSink::environment()
{
    return server().clientEnvironment();
}

PcmRecording TestSink::read(std::size_t fromFrame) const
{
    return readPcm(recording_.path(), rate, channels, fromFrame);
}
