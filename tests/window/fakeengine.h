// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <QString>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"

// An engine whose states the test sets, recording each command together with
// what `observe` reports of the window at that moment.
class FakeEngine : public MediaEngine {
    Q_OBJECT
public:
    std::function<std::string()> observe = [] { return std::string(); };
    std::vector<std::string> calls;
    int open = OpenState::Closed;
    int playing = PlayState::Stopped;
    bool failPlay = false;
    double length = 0.0;
    TrackTags tags;
    // Successive position readings; the last one repeats.
    mutable std::deque<double> positions{0.0};
    mutable int positionReads = 0;
    // Where reads of the play state are noted, if anywhere.
    std::vector<std::string>* reads = nullptr;

    void setFileName(const QString& path) override { record("setFileName(" + path.toStdString() + ")"); }
    int openState() const override { return open; }
    int playState() const override
    {
        if (reads != nullptr)
            reads->emplace_back("state");
        return playing;
    }
    double duration() const override { return length; }
    double currentPosition() const override
    {
        ++positionReads;
        const double reading = positions.front();
        if (positions.size() > 1)
            positions.pop_front();
        return reading;
    }
    void setCurrentPosition(double seconds) override { record("setCurrentPosition(" + std::to_string(seconds) + ")"); }
    void play() override
    {
        if (failPlay)
            throw std::runtime_error("the engine refused to play");
        record("play");
    }
    void pause() override { record("pause"); }
    void stop() override { record("stop"); }
    TrackTags trackTags() const override { return tags; }

private:
    void record(const std::string& call)
    {
        const std::string seen = observe();
        calls.push_back(seen.empty() ? call : call + " " + seen);
    }
};
