#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/decoder.h"

class AudioOutput;
struct PlaybackShared;

// The engine's own thread: opens files, decodes ahead into the shared ring,
// carries out seeks and notices the end of a file. The GUI thread hands it
// work through a short critical section that the audio callback never takes.
class PlaybackWorker {
public:
    using StateChange = std::function<void(int oldState, int newState)>;
    using Failure = std::function<void(const std::string& path, const std::string& reason)>;

    PlaybackWorker(PlaybackShared& shared, StateChange stateChange, Failure failure);
    PlaybackWorker(const PlaybackWorker&) = delete;
    PlaybackWorker& operator=(const PlaybackWorker&) = delete;
    ~PlaybackWorker();

    // Starts opening `path`, replacing any open file. The open state reads
    // Opening until the outcome is known; both changes are reported.
    void requestOpen(const std::string& path);

    // Makes the thread look at the shared state again (play, seek).
    void wake();

private:
    struct OpenRequest {
        std::string path;
        std::uint64_t generation;
    };

    void run();
    void open(const OpenRequest& request, AudioOutput& output);
    void finishOpen(std::uint64_t generation, bool opened, const std::string& path, const std::string& reason);
    void seek(AudioOutput& output);
    // Decoding and playback go on from `frame`, the ring emptied.
    void restartDecodingAt(AudioOutput& output, std::int64_t frame);
    void rewindAtEnd(AudioOutput& output);
    void stopOnLostOutput(AudioOutput& output);
    void reopenOutput(AudioOutput& output);
    void releaseIdleOutput(AudioOutput& output);
    void decodeAhead();
    bool reachedEnd() const;
    // How long the thread may sleep: forever, unless something plays or an
    // idle device waits to be let go.
    std::optional<std::chrono::microseconds> wakeAfter(const AudioOutput& output) const;
    bool waitForWork(std::unique_lock<std::mutex>& lock, std::uint64_t handledOpen,
                     std::optional<std::chrono::microseconds> timeout);

    PlaybackShared& shared_;
    StateChange stateChange_;
    Failure failure_;

    std::mutex mutex_;
    std::condition_variable wakeUp_;
    bool stopping_ = false;
    bool woken_ = false;
    std::string pendingPath_;
    std::uint64_t openGeneration_ = 0;

    // Worker thread only.
    std::unique_ptr<Decoder> decoder_;
    std::string path_;
    std::int64_t decodedEnd_ = 0;
    bool decodedAll_ = false;
    // When the thread first saw nothing playing on an open device.
    std::optional<std::chrono::steady_clock::time_point> idleSince_;
    std::vector<std::int16_t> chunk_;

    std::thread thread_;
};
