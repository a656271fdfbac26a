// SPDX-License-Identifier: GPL-3.0-or-later
// The peer for the window's own costs: a bare Qt window with the same ten
// controls in the same places and nothing behind them. `--keymap` adds a
// 200 ms X key-map poll, `--tick` a 10 ms timer that moves the bar once a
// second.
#include <cstring>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <X11/Xlib.h>

#include "window/controltable.h"

namespace {

void place(QWidget* control, ControlTable::Twips twips)
{
    control->setGeometry(ControlTable::toPixels(twips));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const auto option = [&](const char* name) {
        for (int i = 1; i < argc; ++i) {
            if (std::strcmp(argv[i], name) == 0)
                return true;
        }
        return false;
    };

    QWidget window;
    window.setWindowTitle(ControlTable::caption());
    window.setFixedSize(ControlTable::clientWidth / ControlTable::twipsPerPixel,
                        ControlTable::clientHeight / ControlTable::twipsPerPixel);
    auto* bar = new QProgressBar(&window);
    bar->setTextVisible(false);
    place(bar, ControlTable::ProgressBar1);
    auto* load = new QPushButton(QStringLiteral("load"), &window);
    load->setEnabled(false);
    place(load, ControlTable::Command4);
    auto* path = new QLineEdit(&window);
    path->setEnabled(false);
    place(path, ControlTable::Text1);
    place(new QPushButton(QStringLiteral("stop"), &window), ControlTable::Command3);
    place(new QPushButton(QStringLiteral("pause"), &window), ControlTable::Command2);
    place(new QPushButton(QStringLiteral("play"), &window), ControlTable::Command1);
    auto* label = new QLabel(QStringLiteral("Drop MP3 HERE"), &window);
    label->setAlignment(Qt::AlignCenter);
    place(label, ControlTable::Label1);

    QTimer keymap;
    Display* display = option("--keymap") ? XOpenDisplay(nullptr) : nullptr;
    if (display) {
        QObject::connect(&keymap, &QTimer::timeout, [display] {
            char keys[32];
            XQueryKeymap(display, keys);
        });
        keymap.start(ControlTable::Timer2IntervalMs);
    }
    QTimer tick;
    if (option("--tick")) {
        bar->setMaximum(1000);
        int ticks = 0;
        QObject::connect(&tick, &QTimer::timeout, [bar, ticks]() mutable { bar->setValue(++ticks / 100); });
        tick.start(ControlTable::Timer1IntervalMs);
    }
    window.show();
    const int status = QApplication::exec();
    if (display)
        XCloseDisplay(display);
    return status;
}
