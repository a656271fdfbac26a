// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <fstream>
#include <random>

#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "engine/mediaengine.h"
#include "harness/testsink.h"
#include "harness/nonregularfiles.h"
#include "platform/nativepath.h"
#include "support/systemmediaplayer.h"
#include "support/drops.h"
#include "support/testdata.h"
#include "support/opened.h"
#include "support/wait.h"
#include "window/form1.h"

using namespace std::chrono_literals;

namespace {

const QString invalid = QStringLiteral("Invalid MP3 File !");

// What a row expects after its drop.
enum class Outcome {
    CannotOpen,   // "Cannot open ...": nothing changes, the old file plays on
    Invalid,      // "Invalid MP3 File !": the path shows, the old file plays on
    CannotPlay,   // passes the check, the engine says why it cannot play it
    Plays,        // the new file plays
    PlaysThenEnds,
    Refused,      // the label refuses the drag: nothing at all happens
};

struct Row {
    std::string name;
    std::function<std::unique_ptr<QMimeData>()> drag;
    Outcome outcome;
    QString messageStart; // for CannotOpen and CannotPlay
};

// Every row: dropped on the label while a file plays, through the window's
// native drop path. The program must stay alive, answer its event loop
// within 100 ms, and show the right message or none.
class BadInput : public ::testing::Test {
protected:
    BadInput()
    {
        audio.useInThisProcess();
        window = std::make_unique<Form1>(new SystemMediaPlayer);
        window->setMessagePresenter([this](const QString& text) { messages.push_back(text); });
        window->show();
    }

    MediaEngine* engine() const { return window->findChild<MediaEngine*>(QStringLiteral("MediaPlayer1")); }
    QString pathBox() const { return window->findChild<QLineEdit*>(QStringLiteral("Text1"))->text(); }

    QString file(const std::string& name, const std::string& bytes) const
    {
        const std::string path = dir.file(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return QString::fromStdString(path);
    }

    QString copyOf(const char* source, const std::string& name) const
    {
        const std::string path = dir.file(name);
        std::filesystem::copy_file(testFile(source).toStdString(), path);
        return QString::fromStdString(path);
    }

    // 1 GiB of the same valid frames, over and over.
    QString gibibyteOfFrames() const
    {
        std::ifstream in(testFile("cbr44_noheader.mp3").toStdString(), std::ios::binary);
        const std::string frames{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const std::string path = dir.file("huge.mp3");
        std::ofstream out(path, std::ios::binary);
        for (std::size_t written = 0; written < (std::size_t{1} << 30); written += frames.size())
            out << frames;
        return QString::fromStdString(path);
    }

    // The longest the event loop takes to run a queued call, sampled over
    // `duration` of running events.
    static qint64 worstResponseMs(std::chrono::milliseconds duration)
    {
        qint64 worst = 0;
        const QDeadlineTimer deadline(duration);
        while (!deadline.hasExpired()) {
            QElapsedTimer clock;
            clock.start();
            bool ran = false;
            QTimer::singleShot(0, [&] { ran = true; });
            while (!ran)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
            worst = std::max(worst, clock.elapsed());
            QThread::msleep(5);
        }
        return worst;
    }

    void startPlaying()
    {
        messages.clear();
        dropOnWindow(*window, labelCentre, *filesData({testFile("cbr44_long.mp3")}));
        ASSERT_TRUE(waitUntil([&] { return engine()->currentPosition() > 0.1; }, 5s));
        messages.clear();
    }

    void check(const Row& row)
    {
        SCOPED_TRACE(row.name);
        startPlaying();
        const QString before = pathBox();
        const auto data = row.drag();
        const QString dropped = data->urls().isEmpty() ? QString() : data->urls().front().toLocalFile();
        // The first file's name as the bytes the file system knows it by.
        const std::string droppedName =
            data->urls().isEmpty() ? std::string()
                                   : QByteArray::fromPercentEncoding(data->urls().front().path(QUrl::FullyEncoded).toLatin1()).toStdString();
        const Qt::DropAction action = dropOnWindow(*window, labelCentre, *data);
        EXPECT_LT(worstResponseMs(300ms), 100);

        switch (row.outcome) {
        case Outcome::Refused:
            EXPECT_EQ(action, Qt::IgnoreAction);
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(pathBox(), before);
            EXPECT_EQ(engine()->playState(), PlayState::Playing);
            break;
        case Outcome::CannotOpen:
            ASSERT_EQ(messages.size(), 1U);
            EXPECT_TRUE(messages[0].startsWith(row.messageStart)) << messages[0].toStdString();
            EXPECT_EQ(pathBox(), before);
            EXPECT_EQ(engine()->playState(), PlayState::Playing);
            break;
        case Outcome::Invalid:
            EXPECT_EQ(messages, std::vector<QString>{invalid});
            EXPECT_EQ(pathBox(), dropped);
            EXPECT_EQ(engine()->playState(), PlayState::Playing);
            break;
        case Outcome::CannotPlay:
            ASSERT_TRUE(waitUntil([&] { return !messages.empty(); }, 10s));
            EXPECT_TRUE(messages[0].startsWith(QStringLiteral("Cannot play \"%1\": ").arg(dropped)))
                << messages[0].toStdString();
            EXPECT_EQ(engine()->openState(), OpenState::Closed);
            break;
        case Outcome::Plays:
            EXPECT_EQ(nativeFromPath(pathBox()), droppedName);
            ASSERT_TRUE(waitUntilOpen(*engine(), 20s));
            EXPECT_EQ(engine()->playState(), PlayState::Playing);
            EXPECT_TRUE(messages.empty());
            break;
        case Outcome::PlaysThenEnds:
            ASSERT_TRUE(waitUntilOpen(*engine()));
            ASSERT_TRUE(waitUntil([&] { return engine()->playState() == PlayState::Stopped; }, 5s));
            EXPECT_TRUE(messages.empty());
            break;
        }
    }

    TestSink audio;
    TempDir dir;
    std::unique_ptr<Form1> window;
    std::vector<QString> messages;
};

std::unique_ptr<QMimeData> one(const QString& path)
{
    return filesData({path});
}

TEST_F(BadInput, NothingDroppedEndsHangsOrTouchesTheProgram)
{
    const NonRegularFiles nonRegular(dir);
    const std::string& fifo = nonRegular.fifo();
    const std::string& socketPath = nonRegular.socket();

    std::mt19937 random(7);
    std::string noise(200000, '\0');
    for (char& c : noise)
        c = static_cast<char>(random());
    noise[0] = '\xFF';

    std::string absurdTag("ID3\x03\x00\x00\x7F\x7F\x7F\x7F\xFF\xFB", 12);
    const QString longName = QString::fromStdString(std::string(240, 'n')) + QStringLiteral(".mp3");
    const QString longPath = QString::fromStdString(dir.path()) + QStringLiteral("/") +
                             QString::fromStdString(std::string(60, 'd'));
    std::filesystem::create_directories(longPath.toStdString());
    std::filesystem::copy_file(testFile("cbr44_stereo.mp3").toStdString(), (longPath + '/' + longName).toStdString());

    const std::vector<Row> rows = {
        {"a folder", [&] { return one(QString::fromStdString(dir.path())); }, Outcome::CannotOpen,
         QStringLiteral("Cannot open \"%1\": not a regular file").arg(QString::fromStdString(dir.path()))},
        {"a FIFO", [&] { return one(QString::fromStdString(fifo)); }, Outcome::CannotOpen,
         QStringLiteral("Cannot open \"%1\": not a regular file").arg(QString::fromStdString(fifo))},
        {"a character device", [] { return one(QStringLiteral("/dev/zero")); }, Outcome::CannotOpen,
         QStringLiteral("Cannot open \"/dev/zero\": not a regular file")},
        {"a socket", [&] { return one(QString::fromStdString(socketPath)); }, Outcome::CannotOpen,
         QStringLiteral("Cannot open \"%1\": not a regular file").arg(QString::fromStdString(socketPath))},
        {"a path that vanished", [&] { return one(QString::fromStdString(dir.file("gone.mp3"))); },
         Outcome::CannotOpen, QStringLiteral("Cannot open \"%1\": No such file").arg(QString::fromStdString(dir.file("gone.mp3")))},
        {"an empty file", [&] { return one(file("empty.mp3", "")); }, Outcome::Invalid, {}},
        {"a 1 GiB file of valid frames", [&] { return one(gibibyteOfFrames()); }, Outcome::Plays, {}},
        {"a file cut mid-frame", [] { return one(testFile("truncated.mp3")); }, Outcome::PlaysThenEnds, {}},
        {"random bytes after 0xFF", [&] { return one(file("noise.mp3", noise)); }, Outcome::CannotPlay, {}},
        {"a JPEG", [] { return one(testFile("not_mpeg.mp3")); }, Outcome::CannotPlay, {}},
        {"an ID3v2 tag of absurd size", [&] { return one(file("absurd.mp3", absurdTag)); }, Outcome::Invalid, {}},
        {"spaces, quotes, a newline and markup",
         [&] { return one(copyOf("cbr44_stereo.mp3", "a \"b\" 'c'\n<b>d & e.mp3")); }, Outcome::Plays, {}},
        {"300 characters", [&] { return one(longPath + '/' + longName); }, Outcome::Plays, {}},
        {"bytes that are not UTF-8", [&] {
             // A file manager sends them percent-encoded.
             std::filesystem::copy_file(testFile("cbr44_stereo.mp3").toStdString(), dir.file("\xFF\xFEx.mp3"));
             auto data = std::make_unique<QMimeData>();
             data->setUrls({QUrl::fromEncoded("file://" + QByteArray(dir.path().c_str()) + "/%FF%FEx.mp3")});
             return data;
         }, Outcome::Plays, {}},
        {"a dragged text", [] {
             auto data = std::make_unique<QMimeData>();
             data->setText(QStringLiteral("/music/song.mp3"));
             return data;
         }, Outcome::Refused, {}},
        {"a web link", [] {
             auto data = std::make_unique<QMimeData>();
             data->setUrls({QUrl(QStringLiteral("https://example.invalid/song.mp3"))});
             return data;
         }, Outcome::Refused, {}},
        {"1,000 files at once", [] {
             QStringList paths;
             for (int i = 0; i < 1000; ++i)
                 paths.append(testFile(i % 2 == 0 ? "vbr44.mp3" : "cbr44_stereo.mp3"));
             return filesData(paths);
         }, Outcome::Plays, {}},
    };
    for (const Row& row : rows)
        check(row);
}

} // namespace
