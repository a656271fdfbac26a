// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the header check over arbitrary file contents.
#include <cstdlib>

#include "filecheck/checkmp3header.h"
#include "memoryfile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static MemoryFile file;
    const TruthWord result = CheckMP3Header(QString::fromStdString(file.hold(data, size)));
    // Only the two truth values exist, and a first byte of 0xFF always passes.
    if ((result != TruthTrue && result != TruthFalse) || (size > 0 && data[0] == 0xFF && result != TruthTrue))
        std::abort();
    return 0;
}
