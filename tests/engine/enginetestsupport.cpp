// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine/enginetestsupport.h"

#include "decode/mpg123decoder.h"

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::unique_ptr<SampleSource> openDecoder(const std::string& path, std::string& error, std::stop_token cancel)
{
    return Mpg123Decoder::open(path, error, std::move(cancel));
}
