#pragma once

#include <memory>

#include "engine/mediaengine.h"

struct PlaybackShared;
class PlaybackWorker;

// The real engine: libmpg123 decodes on the engine's own thread, SDL plays.
// Reads are lock-free; commands take effect at the next audio buffer.
class MediaPlayer : public MediaEngine {
    Q_OBJECT
public:
    explicit MediaPlayer(QObject* parent = nullptr);
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

private:
    // Declared before the worker, which uses it until it has stopped.
    std::unique_ptr<PlaybackShared> shared_;
    std::unique_ptr<PlaybackWorker> worker_;
};
