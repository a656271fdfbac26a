#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "output/audiooutput.h"
#include "decode/samplesource.h"

struct PlaybackShared;

// The engine's own thread: opens files, decodes, writes to the audio output,
// follows the play state and seeks asked for, publishes the position heard
// and notices the end of a file.
//
// Threads, once: the GUI thread asks through PlaybackShared's commands and
// through requestOpen() and wake(), which take the mutex here only to hand
// over the path and to wake this thread. This thread alone writes the
// engine's side of PlaybackShared and alone calls the decoder and the output.
// The output's own thread (a sound server's client) only wakes this one.
class PlaybackWorker {
public:
    using StateChange = std::function<void(int oldState, int newState)>;
    using Failure = std::function<void(const std::string& path, const std::string& reason)>;

    PlaybackWorker(PlaybackShared& shared, std::unique_ptr<AudioOutput> output, SourceOpener openSource,
                   StateChange stateChange, Failure failure);
    PlaybackWorker(const PlaybackWorker&) = delete;
    PlaybackWorker& operator=(const PlaybackWorker&) = delete;
    ~PlaybackWorker();

    // GUI thread: starts opening `path`, replacing any open file and
    // abandoning any open in progress. Reported as Opening at once, and the
    // outcome later.
    void requestOpen(const std::string& path);

    // Any thread: look at the shared state again.
    void wake();

private:
    struct OpenRequest {
        std::string path;
        std::uint64_t generation;
        // The commands counted when the open was asked for: any later one
        // (a stop) is obeyed once the file is open.
        std::uint64_t commands;
        std::stop_token cancel;
    };

    void run();
    void open(const OpenRequest& request);
    void reportOpen(const OpenRequest& request, bool opened, const std::string& reason);
    void applyCommands();
    void seek();
    void startSounding();
    void haltSounding();
    // The file's next part is in another format: once the last of this one
    // has been heard, the output takes the new one.
    void continueInNewFormat();
    void restartDecodingAt(std::int64_t frame);
    void feed();
    bool reachedEnd();
    void rewindAtEnd();
    void stopOnLostOutput();
    void closeUnplayable(const std::string& reason);
    void publishPosition();
    double seconds(std::int64_t frame) const;
    std::optional<std::chrono::microseconds> wakeAfter();
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
    std::uint64_t pendingCommands_ = 0;
    std::stop_source openCancel_;

    // This thread only.
    std::unique_ptr<AudioOutput> output_;
    SourceOpener openSource_;
    std::unique_ptr<SampleSource> decoder_;
    std::string path_;
    std::uint64_t commandsApplied_ = 0;
    std::uint64_t seeksDone_ = 0;
    bool sounding_ = false;
    // The file frame and time at the output's segment frame 0, the segment's
    // format, and how much of it has been written.
    std::int64_t segmentStart_ = 0;
    double segmentSeconds_ = 0.0;
    int segmentRate_ = 0;
    int segmentChannels_ = 0;
    std::int64_t segmentWritten_ = 0;
    bool segmentEnded_ = false;
    // The file frame the decoder gives next, and its time.
    std::int64_t nextFrame_ = 0;
    double nextSeconds_ = 0.0;
    bool decodedAll_ = false;
    bool formatChanging_ = false;
    // Sound that starts afresh fades in; a file's next part does not.
    bool fadeIn_ = true;
    // Since when the decoder has given nothing without saying it ended.
    std::optional<std::chrono::steady_clock::time_point> stalledSince_;
    std::vector<std::int16_t> chunk_;

    std::thread thread_;
};
