// SPDX-License-Identifier: GPL-3.0-or-later
// The Caps Lock chords: every tick of the hotkey timer samples the global
// key state and runs play, pause or stop as a click would.
#include <array>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "platform/keystate.h"
#include "window/form1.h"

namespace {

struct ChordRule {
    int letter;
    int playState;
    void (Form1::*command)();
};

// Tried in order; the first that holds runs and ends the tick.
constexpr std::array<ChordRule, 4> chordRules{{
    {VirtualKey::A, PlayState::Stopped, &Form1::play},
    {VirtualKey::S, PlayState::Playing, &Form1::stop},
    {VirtualKey::A, PlayState::Paused, &Form1::play},
    {VirtualKey::A, PlayState::Playing, &Form1::pause},
}};

} // namespace

void Form1::Timer2_Timer()
{
    // The keys are read once a tick; each rule's queries answer from that.
    keyState_->sample();
    for (const ChordRule& rule : chordRules) {
        // Sampled afresh for every rule: Caps Lock, the letter, the state.
        const std::uint16_t capsLock = keyState_->GetAsyncKeyState(VirtualKey::CapsLock);
        const std::uint16_t letter = keyState_->GetAsyncKeyState(rule.letter);
        const int playState = MediaPlayer1->playState();
        const std::uint16_t stateMask = playState == rule.playState ? 0xFFFF : 0;
        // A bitwise AND of the three words, tested as a 16-bit word.
        if (static_cast<std::uint16_t>(stateMask & letter & capsLock) != 0) {
            (this->*rule.command)();
            return;
        }
    }
}
