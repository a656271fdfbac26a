// SPDX-License-Identifier: GPL-3.0-or-later
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

#include "engine/enginestates.h"
#include "harness/nonregularfiles.h"
#include "harness/tempdir.h"
#include "platform/nativepath.h"
#include "support/opened.h"
#include "support/testdata.h"
#include "support/wait.h"
#include "windowonengine.h"

using namespace std::chrono_literals;

namespace {

const QString invalid = QStringLiteral("Invalid MP3 File !");

// What a row expects after its drop.
enum class Outcome {
    CannotOpen,   // "Cannot open ...", exactly: nothing changes, the old file plays on
    Invalid,      // "Invalid MP3 File !": the path shows, the old file plays on
    CannotPlay,   // passes the check, the engine says why it cannot play it
    Plays,        // the new file plays
    PlaysThenEnds,
    Refused,      // the label refuses the drag: nothing at all happens
};

class BadInput;

struct Row {
    const char* name;
    std::function<std::unique_ptr<QMimeData>(BadInput&)> drag;
    Outcome outcome;
    // The message, or for CannotPlay its start, given the dropped path.
    std::function<QString(const QString&)> message = nullptr;
};

void PrintTo(const Row& row, std::ostream* out)
{
    *out << row.name;
}

// Each row: dropped on the label while a file plays, through the window's
// native drop path. The program must stay alive, answer its event loop
// within 100 ms, and show the right message or none.
class BadInput : public WindowOnEngine, public ::testing::TestWithParam<Row> {
public:
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

    TempDir dir;
    const NonRegularFiles nonRegular{dir};

protected:
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
        dropOnLabel(*filesData({testFile("cbr44_long.mp3")}));
        ASSERT_TRUE(waitUntil([&] { return engine()->currentPosition() > 0.1; }, 5s));
        messages.clear();
    }
};

std::unique_ptr<QMimeData> one(const QString& path)
{
    return filesData({path});
}

std::unique_ptr<QMimeData> one(const std::string& path)
{
    return filesData({QString::fromStdString(path)});
}

QString notRegular(const QString& path)
{
    return QStringLiteral("Cannot open \"%1\": not a regular file").arg(path);
}

TEST_P(BadInput, NothingDroppedEndsHangsOrTouchesTheProgram)
{
    const Row& row = GetParam();
    startPlaying();
    const QString before = pathBox();
    const auto data = row.drag(*this);
    const QString dropped = data->urls().isEmpty() ? QString() : data->urls().front().toLocalFile();
    // The first file's name as the bytes the file system knows it by.
    const std::string droppedName =
        data->urls().isEmpty() ? std::string()
                               : QByteArray::fromPercentEncoding(data->urls().front().path(QUrl::FullyEncoded).toLatin1()).toStdString();
    const Qt::DropAction action = dropOnLabel(*data);
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
        EXPECT_EQ(messages[0].toStdString(), row.message(dropped).toStdString());
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
        EXPECT_TRUE(messages[0].startsWith(row.message(dropped))) << messages[0].toStdString();
        EXPECT_EQ(pathBox(), dropped);
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

const auto cannotPlay = [](const QString& path) { return QStringLiteral("Cannot play \"%1\": ").arg(path); };

const Row rows[] = {
    {"AFolder", [](BadInput& t) { return one(t.dir.path()); }, Outcome::CannotOpen, notRegular},
    {"AFifo", [](BadInput& t) { return one(t.nonRegular.fifo()); }, Outcome::CannotOpen, notRegular},
    {"ACharacterDevice", [](BadInput&) { return one(QStringLiteral("/dev/zero")); }, Outcome::CannotOpen, notRegular},
    {"ASocket", [](BadInput& t) { return one(t.nonRegular.socket()); }, Outcome::CannotOpen, notRegular},
    {"APathThatVanished", [](BadInput& t) { return one(t.dir.file("gone.mp3")); }, Outcome::CannotOpen,
     [](const QString& path) { return QStringLiteral("Cannot open \"%1\": No such file or directory").arg(path); }},
    {"AnEmptyFile", [](BadInput& t) { return one(t.file("empty.mp3", "")); }, Outcome::Invalid},
    {"AGibibyteOfValidFrames", [](BadInput& t) { return one(t.gibibyteOfFrames()); }, Outcome::Plays},
    {"AFileCutMidFrame", [](BadInput&) { return one(testFile("truncated.mp3")); }, Outcome::PlaysThenEnds},
    {"RandomBytesAfter0xFF",
     [](BadInput& t) {
         std::mt19937 random(7);
         std::string noise(200000, '\0');
         for (char& c : noise)
             c = static_cast<char>(random());
         noise[0] = '\xFF';
         return one(t.file("noise.mp3", noise));
     },
     Outcome::CannotPlay, cannotPlay},
    {"AJpeg", [](BadInput&) { return one(testFile("not_mpeg.mp3")); }, Outcome::CannotPlay,
     [](const QString& path) { return QStringLiteral("Cannot play \"%1\": not MPEG audio").arg(path); }},
    {"AnId3v2TagOfAbsurdSize",
     [](BadInput& t) { return one(t.file("absurd.mp3", std::string("ID3\x03\x00\x00\x7F\x7F\x7F\x7F\xFF\xFB", 12))); },
     Outcome::Invalid},
    {"SpacesQuotesANewlineAndMarkup",
     [](BadInput& t) { return one(t.copyOf("cbr44_stereo.mp3", "a \"b\" 'c'\n<b>d & e.mp3")); }, Outcome::Plays},
    {"ThreeHundredCharacters",
     [](BadInput& t) {
         const std::string folder = t.dir.file(std::string(60, 'd'));
         std::filesystem::create_directories(folder);
         const std::string path = folder + "/" + std::string(240, 'n') + ".mp3";
         std::filesystem::copy_file(testFile("cbr44_stereo.mp3").toStdString(), path);
         return one(path);
     },
     Outcome::Plays},
    {"BytesThatAreNotUtf8",
     [](BadInput& t) {
         // A file manager sends them percent-encoded.
         std::filesystem::copy_file(testFile("cbr44_stereo.mp3").toStdString(), t.dir.file("\xFF\xFEx.mp3"));
         auto data = std::make_unique<QMimeData>();
         data->setUrls({QUrl::fromEncoded("file://" + QByteArray(t.dir.path().c_str()) + "/%FF%FEx.mp3")});
         return data;
     },
     Outcome::Plays},
    {"ADraggedText",
     [](BadInput&) {
         auto data = std::make_unique<QMimeData>();
         data->setText(QStringLiteral("/music/song.mp3"));
         return data;
     },
     Outcome::Refused},
    {"AWebLink",
     [](BadInput&) {
         auto data = std::make_unique<QMimeData>();
         data->setUrls({QUrl(QStringLiteral("https://example.invalid/song.mp3"))});
         return data;
     },
     Outcome::Refused},
    {"AThousandFilesAtOnce",
     [](BadInput&) {
         QStringList paths;
         for (int i = 0; i < 1000; ++i)
             paths.append(testFile(i % 2 == 0 ? "vbr44.mp3" : "cbr44_stereo.mp3"));
         return filesData(paths);
     },
     Outcome::Plays},
};

INSTANTIATE_TEST_SUITE_P(Rows, BadInput, ::testing::ValuesIn(rows),
                         [](const ::testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

} // namespace
