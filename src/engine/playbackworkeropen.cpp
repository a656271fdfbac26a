// SPDX-License-Identifier: GPL-3.0-or-later
// The playback thread's opening of a file and its giving up on one: the
// output named and prepared, the outcome reported unless a newer open was
// asked for. The rest of the thread is in playbackworker.cpp.
#include "engine/playbackworker.h"

#include "decode/tracktags.h"
#include "engine/enginelog.h"
#include "engine/playbackshared.h"
#include "platform/nativepath.h"

void PlaybackWorker::open(const OpenRequest& request)
{
    if (sounding_)
        haltSounding();
    decoder_.reset();
    stalledSince_.reset();
    std::string error;
    std::unique_ptr<SampleSource> decoder = openSource_(request.path, error, request.cancel);
    if (!decoder) {
        reportOpen(request, false, error);
        return;
    }
    // The output takes the new file's name and format before anything of it
    // is written.
    const QString path = pathFromNative(request.path);
    const TrackTags tags = readTrackTags(path, request.cancel);
    if (request.cancel.stop_requested()) {
        reportOpen(request, false, "cancelled");
        return;
    }
    output_->nameStream(trackTitle(tags, path).toStdString());
    if (!prepareOutput(*decoder, error)) {
        reportOpen(request, false, error);
        return;
    }
    decoder_ = std::move(decoder);
    path_ = request.path;
    nextFrame_ = 0;
    nextSeconds_ = 0.0;
    decodedAll_ = false;
    formatChanging_ = false;
    fadeIn_ = true;
    shared_.duration.store(seconds(decoder_->lengthFrames()));
    shared_.clock.publish(0.0, 0, false, 0.0);
    // It plays by itself, unless stopped meanwhile: the first sound is on
    // its way before the open is reported.
    if (shared_.commands.load() == request.commands)
        startSounding();
    reportOpen(request, true, {}, tags);
}

bool PlaybackWorker::prepareOutput(const SampleSource& decoder, std::string& error)
{
    if (output_->prepare(decoder.rate(), decoder.channels(), error))
        return true;
    error = "cannot open audio output: " + error;
    return false;
}

void PlaybackWorker::reportOpen(const OpenRequest& request, bool opened, const std::string& error,
                                const TrackTags& tags)
{
    // Abandoned by a stop, a newer file or the engine's end: not a failure
    // to tell of.
    const bool abandoned = !opened && request.cancel.stop_requested();
    const bool reported = inbox_.reportUnlessSuperseded(request.generation, [&] {
        const std::uint64_t asked = shared_.commands.load(std::memory_order_acquire);
        if (opened) {
            shared_.playState.store(asked == request.commands ? PlayState::Playing
                                                              : shared_.commandedPlayState.load());
        } else {
            shared_.duration.store(0.0);
            shared_.playState.store(PlayState::Stopped);
        }
        shared_.commandsApplied.store(asked, std::memory_order_release);
        commandsApplied_ = asked;
        const int outcome = opened ? OpenState::Open : OpenState::Closed;
        shared_.openState.store(outcome);
        shared_.opensHandled.store(request.generation, std::memory_order_release);
        tagsRead_(tags);
        stateChange_(OpenState::Opening, outcome);
        if (!opened && !abandoned)
            failure_(request.path, error);
    });
    const auto generation = static_cast<unsigned long long>(request.generation);
    if (!reported)
        qCDebug(engineLog, "open %llu left unreported: a newer one was asked for, or the engine ends", generation);
    else if (abandoned)
        qCDebug(engineLog, "open %llu abandoned", generation);
    else if (opened)
        qCDebug(engineLog, "open %llu opened: %d Hz, %d channels, %.3f s", generation, decoder_->rate(),
                decoder_->channels(), shared_.duration.load());
    else
        qCDebug(engineLog, "open %llu failed: %s", generation, error.c_str());
}

void PlaybackWorker::closeUnplayable(const std::string& error)
{
    qCDebug(engineLog, "given up as unplayable: %s", error.c_str());
    if (sounding_)
        output_->halt(haltFade_);
    sounding_ = false;
    decoder_.reset();
    stalledSince_.reset();
    shared_.duration.store(0.0);
    shared_.clock.publish(0.0, 0, false, 0.0);
    shared_.playState.store(PlayState::Stopped);
    // A newer file asked for meanwhile reports its own outcome.
    inbox_.reportUnlessSuperseded(shared_.opensHandled.load(), [&] {
        shared_.openState.store(OpenState::Closed);
        stateChange_(OpenState::Open, OpenState::Closed);
        failure_(path_, error);
    });
}
