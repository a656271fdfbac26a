// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the engine's open-and-decode path over mutated MP3 bytes: open,
// decode to the end, seek back and decode a little again.
#include <array>
#include <cstdlib>

#include "decode/mpg123decoder.h"
#include "memoryfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static MemoryFile file;
    std::string error;
    const std::unique_ptr<Mpg123Decoder> decoder = Mpg123Decoder::open(file.hold(data, size), error);
    if (!decoder)
        return 0;
    if (decoder->channels() < 1 || decoder->channels() > 2 || decoder->rate() <= 0 || decoder->lengthFrames() < 0)
        std::abort();
    std::array<std::int16_t, 4608> samples{};
    bool ended = false;
    std::size_t total = 0;
    while (!ended) {
        // A read that meets a change of format gives what it has in the old one.
        const auto channels = static_cast<std::size_t>(decoder->channels());
        const std::size_t got = decoder->read(samples.data(), samples.size(), ended);
        if (got > samples.size() || got % channels != 0 || decoder->channels() < 1 || decoder->channels() > 2)
            std::abort();
        total += got;
        if (got == 0 && !ended && ++total > 1'000'000)
            break; // no progress: leave rather than spin
    }
    decoder->seekToFrame(decoder->lengthFrames() / 2);
    decoder->read(samples.data(), samples.size(), ended);
    return 0;
}
