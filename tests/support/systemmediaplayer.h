// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "decode/mpg123decoder.h"
#include "engine/mediaplayer.h"
#include "output/systemoutput.h"

// The engine as the program builds it: MP3 files decoded by libmpg123,
// played through the sound server or ALSA.
class SystemMediaPlayer : public MediaPlayer {
public:
    explicit SystemMediaPlayer(QObject* parent = nullptr)
        : MediaPlayer(systemOutput(ApplicationIdentity{"Merlow", MERLOW_APP_ID}),
                      &Mpg123Decoder::open, parent)
    {
    }
};
