// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "output/audiooutput.h"
#include "output/haltfade.h"
#include "decode/samplesource.h"
#include "decode/tracktags.h"
#include "engine/playbackinbox.h"
#include "engine/playbacksegment.h"

struct PlaybackShared;

// The engine's own thread: opens files, decodes, writes to the audio output,
// follows the play state and seeks asked for, publishes the position heard
// and notices the end of a file.
//
// Threads, once. Three threads meet here:
// - The GUI thread asks through PlaybackShared's commands and seek, and
//   through requestOpen() and wake(), which hand the path over and wake this
//   thread through the PlaybackInbox; it reads the engine's state from
//   PlaybackShared without locks.
// - This thread alone writes the engine's side of PlaybackShared, alone calls
//   the decoder and the output (but for the destructor's abandonWaits(),
//   which ends a wait on the output's server so that the join is prompt),
//   and alone uses this class's own fields. It waits in the inbox, and
//   reports the outcome of an open through it, under its mutex, so that no
//   outcome overtakes a newer file's Opening.
// - The output's own thread (a sound server's client) only wakes this one,
//   from inside the output's lock: hence the lock order in playbackinbox.h,
//   and this thread never holds the inbox's mutex while it calls the output.
class PlaybackWorker {
public:
    using StateChange = PlaybackInbox::StateChange;
    using Failure = std::function<void(const std::string& path, const std::string& reason)>;
    using ClockChange = std::function<void(bool running)>;
    // The tags of the file an open's outcome is about, empty when it failed;
    // told just before the outcome.
    using TagsRead = std::function<void(const TrackTags& tags)>;

    PlaybackWorker(PlaybackShared& shared, std::unique_ptr<AudioOutput> output, SourceOpener openSource,
                   StateChange stateChange, Failure failure, ClockChange clockChange, TagsRead tagsRead);
    PlaybackWorker(const PlaybackWorker&) = delete;
    PlaybackWorker& operator=(const PlaybackWorker&) = delete;
    ~PlaybackWorker();

    // GUI thread, once: ends the engine's thread, and returns true once it
    // has ended within `limit`. Otherwise the thread is held where no stop
    // reaches it (a read the kernel has not returned from): it is left to
    // run on, and everything it uses, this object with it, must be left to
    // it. Nothing is reported once this is called.
    bool endWithin(std::chrono::milliseconds limit);

    // GUI thread: gives up an open in progress or asked for.
    void abandonOpen();

    // GUI thread: starts opening `path`, replacing any open file and
    // abandoning any open in progress. Reported as Opening at once, and the
    // outcome later.
    void requestOpen(const std::string& path);

    // Any thread: look at the shared state again.
    void wake();

private:
    void run();
    void applyCommands();
    void open(const OpenRequest& request);
    // The output at the decoder's format; false with the reason when none
    // can be had.
    bool prepareOutput(const SampleSource& decoder, std::string& error);
    void reportOpen(const OpenRequest& request, bool opened, const std::string& error, const TrackTags& tags = {});
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
    void closeUnplayable(const std::string& error);
    void publishPosition();
    // Tells of the clock starting or stopping, once all that moved it in
    // this round is done.
    void reportClock();
    double seconds(std::int64_t frame) const;
    std::optional<std::chrono::microseconds> wakeAfter();

    PlaybackShared& shared_;
    // Outcomes of opens and closes; the inbox reports Opening.
    const StateChange stateChange_;
    const Failure failure_;
    const ClockChange clockChange_;
    const TagsRead tagsRead_;
    // Used by all three threads; it locks for itself.
    PlaybackInbox inbox_;

    // Engine thread only, from here on.
    std::unique_ptr<AudioOutput> output_;
    SourceOpener openSource_;
    std::unique_ptr<SampleSource> decoder_;
    std::string path_;
    std::uint64_t commandsApplied_ = 0;
    std::uint64_t seeksDone_ = 0;
    bool sounding_ = false;
    bool clockReportedRunning_ = false;
    PlaybackSegment segment_;
    // The segment's last frames, and the fade a halt puts in their place.
    HaltFade haltFade_;
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

    // Kept by the engine's thread as its last act.
    std::promise<void> ended_;
    // Started last, once all above is ready; joined by endWithin() or the
    // destructor.
    std::thread thread_;
};
