// SPDX-License-Identifier: GPL-3.0-or-later
// The progress display: the bar's range follows the open file, and the
// progress timer copies the playing position into the bar.
#include <QTimer>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "window/form1.h"
#include "window/progressbar.h"

void Form1::MediaPlayer1_OpenStateChange(int /*oldState*/, int newState)
{
    if (newState != OpenState::Open)
        return;
    ProgressBar1->setMaximum(static_cast<float>(MediaPlayer1->duration()));
    Timer1->start();
}

void Form1::Timer1_Timer()
{
    if (!(MediaPlayer1->currentPosition() > 0.0))
        return;
    ProgressBar1->setValue(static_cast<float>(MediaPlayer1->currentPosition()));
}
