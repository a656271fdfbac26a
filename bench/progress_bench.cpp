// SPDX-License-Identifier: GPL-3.0-or-later
// Measures what the progress display costs: the window sits idle with no
// file for a stretch of real time, as the peer to compare with, then plays a
// file for as long into the null sink of a PulseAudio server of the bench's
// own, while its bar's repaints and the process's CPU time are counted.
#include <cstdio>
#include <cstdlib>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <sys/resource.h>

#include "engine/mediaengine.h"
#include "harness/testsink.h"
#include "support/systemmediaplayer.h"
#include "support/paintcounter.h"
#include "window/form1.h"
#include "window/progressbar.h"

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Figures {
    int paints = 0;
    double cpu = 0.0;
};

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: progress_bench FILE SECONDS\n");
        return 2;
    }
    const TestSink audio;
    audio.useInThisProcess();
    QApplication app(argc, argv);
    const QString file = QString::fromLocal8Bit(argv[1]);
    const int seconds = std::atoi(argv[2]);

    Form1 window(new SystemMediaPlayer);
    window.show();
    PaintCounter counter;
    window.findChild<ProgressBar*>(QStringLiteral("ProgressBar1"))->installEventFilter(&counter);

    // One event loop throughout: first idle, then playing.
    Figures idle;
    Figures playing;
    double phaseStart = cpuSeconds();
    QTimer::singleShot(seconds * 1000, [&] {
        idle = {counter.paints, cpuSeconds() - phaseStart};
        counter.paints = 0;
        phaseStart = cpuSeconds();
        window.findChild<MediaEngine*>(QStringLiteral("MediaPlayer1"))->setFileName(file);
    });
    QTimer::singleShot(2 * seconds * 1000, [&] {
        playing = {counter.paints, cpuSeconds() - phaseStart};
        QCoreApplication::quit();
    });
    QApplication::exec();

    const double perMinute = 60.0 / seconds;
    std::printf("| %d s | bar repaints | CPU s / minute |\n|---|---|---|\n", seconds);
    std::printf("| idle, no file (peer) | %d | %.3f |\n", idle.paints, idle.cpu * perMinute);
    std::printf("| playing | %d | %.3f |\n", playing.paints, playing.cpu * perMinute);
    return 0;
}
