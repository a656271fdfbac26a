// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <fstream>

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QUrl>
#include <QWindow>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "harness/testsink.h"
#include "harness/nonregularfiles.h"
#include "support/systemmediaplayer.h"
#include "support/drops.h"
#include "support/testdata.h"
#include "support/opened.h"
#include "support/wait.h"
#include "window/form1.h"
#include "support/cdaudio.h"

using namespace std::chrono_literals;

namespace {

// Real playback through the test's sound server, with the window's drops delivered
// through its native window as the window system would deliver them.
class DropTest : public ::testing::Test {
protected:
    DropTest()
    {
        audio.useInThisProcess();
        window = std::make_unique<Form1>(new SystemMediaPlayer);
        window->setMessagePresenter([this](const QString& text) { messages.push_back(text); });
        window->show();
    }

    Qt::DropAction dropAt(QPoint at, const QMimeData& data, Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
    {
        return dropOnWindow(*window, at, data, offered);
    }

    Qt::DropAction dropOnLabel(const QMimeData& data, Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction)
    {
        return dropAt(labelCentre, data, offered);
    }

    QString pathBox() const { return window->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(); }
    MediaEngine* engine() const { return window->findChild<MediaEngine*>(QStringLiteral("MediaPlayer1")); }
    bool playingFor(double seconds) const
    {
        return waitUntil([&] { return engine()->currentPosition() >= seconds; }, 5s);
    }
    double heardFrequency() const
    {
        const auto pcm = audio.read().channel(0);
        return pcm.size() < cdRate / 5 ? 0.0 : toneFrequency(pcm, cdRate, pcm.size() - cdRate / 5, cdRate / 5);
    }

    TestSink audio;
    std::unique_ptr<Form1> window;
    std::vector<QString> messages;
};

TEST_F(DropTest, ThreeFilesLoadTheFirstByTheSourcesOrderAndCopyIsAnswered)
{
    const auto data = filesData({testFile("vbr44.mp3"), testFile("cbr44_stereo.mp3"), testFile("mono48.mp3")});
    EXPECT_EQ(dropOnLabel(*data), Qt::CopyAction);
    EXPECT_EQ(pathBox(), testFile("vbr44.mp3"));
    ASSERT_TRUE(playingFor(0.3));
    EXPECT_NEAR(heardFrequency(), 523.25, 1.0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, AnId3TaggedFilePlays)
{
    EXPECT_EQ(dropOnLabel(*filesData({testFile("id3v2.mp3")})), Qt::CopyAction);
    ASSERT_TRUE(playingFor(0.3));
    EXPECT_NEAR(engine()->duration(), 2.0, 0.1);
    EXPECT_NEAR(heardFrequency(), 330.0, 1.0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, AnInvalidFileIsReportedAndShownWhileTheOldOnePlaysOnThenAValidOneSwitches)
{
    dropOnLabel(*filesData({testFile("cbr44_stereo.mp3")}));
    ASSERT_TRUE(playingFor(0.2));

    const TempDir dir;
    const QString text = QString::fromStdString(dir.file("notes.txt"));
    std::ofstream(text.toStdString()) << "hello";
    dropOnLabel(*filesData({text}));
    EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("Invalid MP3 File !")});
    EXPECT_EQ(pathBox(), text);
    EXPECT_EQ(engine()->playState(), PlayState::Playing);
    ASSERT_TRUE(playingFor(0.5));
    EXPECT_NEAR(heardFrequency(), 440.0, 1.0);

    dropOnLabel(*filesData({testFile("vbr44.mp3")}));
    EXPECT_EQ(pathBox(), testFile("vbr44.mp3"));
    ASSERT_TRUE(waitUntilOpen(*engine()));
    ASSERT_TRUE(playingFor(0.3));
    EXPECT_NEAR(heardFrequency(), 523.25, 1.0);
}

TEST_F(DropTest, AFileThatCannotBeOpenedIsReportedAndChangesNothing)
{
    dropOnLabel(*filesData({testFile("cbr44_stereo.mp3")}));
    ASSERT_TRUE(playingFor(0.2));
    const TempDir dir;
    const NonRegularFiles nonRegular(dir);
    const std::string& fifo = nonRegular.fifo();
    const std::pair<QString, QString> cases[] = {
        {QString::fromStdString(dir.path()), QStringLiteral("not a regular file")},
        {QString::fromStdString(fifo), QStringLiteral("not a regular file")},
        {QString::fromStdString(dir.file("gone.mp3")), QStringLiteral("No such file or directory")},
    };
    for (const auto& [path, reason] : cases) {
        SCOPED_TRACE(path.toStdString());
        messages.clear();
        dropOnLabel(*filesData({path}));
        EXPECT_EQ(messages, std::vector<QString>{QStringLiteral("Cannot open \"%1\": %2").arg(path, reason)});
        EXPECT_EQ(pathBox(), testFile("cbr44_stereo.mp3"));
        EXPECT_EQ(engine()->playState(), PlayState::Playing);
    }
}

TEST_F(DropTest, AFileThatPassesTheCheckButCannotBeDecodedIsReportedByName)
{
    dropOnLabel(*filesData({testFile("not_mpeg.mp3")}));
    EXPECT_EQ(pathBox(), testFile("not_mpeg.mp3"));
    ASSERT_TRUE(waitUntil([&] { return !messages.empty(); }, 5s));
    EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cannot play \"%1\": not MPEG audio").arg(testFile("not_mpeg.mp3"))))
        << messages[0].toStdString();
    EXPECT_EQ(engine()->openState(), OpenState::Closed);
}

TEST_F(DropTest, OddNamesAreShownAndPlayedLiterally)
{
    const TempDir dir;
    const QString odd = QString::fromStdString(dir.path()) + QStringLiteral("/a \"quoted\" <b>bold<i> & ü 'name'.mp3");
    std::filesystem::copy_file(testFile("cbr44_stereo.mp3").toStdString(), odd.toStdString());
    dropOnLabel(*filesData({odd}));
    EXPECT_EQ(pathBox(), odd);
    ASSERT_TRUE(playingFor(0.2));
    EXPECT_TRUE(messages.empty());
}

TEST_F(DropTest, DropsElsewhereOnTheWindowOnlyProbeForFormat255)
{
    const auto files = filesData({testFile("cbr44_stereo.mp3")});
    auto offering255 = filesData({testFile("cbr44_stereo.mp3")});
    offering255->setData(QStringLiteral("application/x-clipboard-format-255"), "x");
    // The gap between two buttons, a button, the path box and the bar.
    for (const QPoint at : {QPoint(76, 10), QPoint(30, 15), QPoint(200, 50), QPoint(200, 72)}) {
        SCOPED_TRACE(at.x() * 1000 + at.y());
        messages.clear();
        EXPECT_EQ(dropAt(at, *files), Qt::CopyAction);
        EXPECT_EQ(dropAt(at, *offering255), Qt::CopyAction);
        EXPECT_EQ(messages, (std::vector<QString>{QStringLiteral("False"), QStringLiteral("True")}));
    }
    EXPECT_TRUE(pathBox().isEmpty());
    EXPECT_EQ(engine()->openState(), OpenState::Closed);
}

TEST_F(DropTest, TheLabelRefusesDragsWithoutALocalFileAndAnyMoveOnlyDrag)
{
    QMimeData text;
    text.setText(QStringLiteral("/tmp/some.mp3"));
    QMimeData link;
    link.setUrls({QUrl(QStringLiteral("https://example.invalid/song.mp3"))});
    QMimeData empty;
    empty.setUrls({});
    for (const QMimeData* data : {&text, &link, &empty})
        EXPECT_EQ(dropOnLabel(*data), Qt::IgnoreAction);
    const auto files = filesData({testFile("cbr44_stereo.mp3")});
    EXPECT_EQ(dropOnLabel(*files, Qt::MoveAction), Qt::IgnoreAction);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(pathBox().isEmpty());
    EXPECT_EQ(engine()->openState(), OpenState::Closed);

    // A source that offers only a link is answered with a link.
    EXPECT_EQ(dropOnLabel(*files, Qt::LinkAction), Qt::LinkAction);
    EXPECT_EQ(pathBox(), testFile("cbr44_stereo.mp3"));
}

} // namespace
