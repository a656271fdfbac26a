// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <memory>

#include "engine/mediaengine.h"
#include "decode/samplesource.h"

class AudioOutput;
struct PlaybackShared;
class PlaybackWorker;

// The real engine: libmpg123 decodes on the engine's own thread, which writes
// to the sound server (or ALSA). Reads are lock-free; commands take effect on
// the engine's thread at once.
class MediaPlayer : public MediaEngine {
    Q_OBJECT
public:
    // Plays what `openSource` opens through `output`.
    MediaPlayer(std::unique_ptr<AudioOutput> output, SourceOpener openSource, QObject* parent = nullptr);
    ~MediaPlayer() override;

    void setFileName(const QString& path) override;
    int openState() const override;
    int playState() const override;
    double duration() const override;
    double currentPosition() const override;
    void setCurrentPosition(double seconds) override;
    void play() override;
    void pause() override;
    void stop() override;
    TrackTags trackTags() const override;

private:
    class Reports;

    // Asks the engine's thread for a play state.
    void command(int playState);

    // Declared before the worker, which uses it until it has stopped.
    std::unique_ptr<PlaybackShared> shared_;
    std::shared_ptr<Reports> reports_;
    std::unique_ptr<PlaybackWorker> worker_;
    // GUI thread only: the tags the last open's outcome came with.
    TrackTags tags_;
};
