// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStringList>
#include <gtest/gtest.h>

#include "harness/process.h"
#include "harness/tempdir.h"
#include "harness/withoutserver.h"
#include "output/systemoutput.h"

namespace {

// What this process writes to its stderr, file descriptor 2 itself, while
// the object lives: libraries write there without going through std::cerr.
class StderrCapture {
public:
    explicit StderrCapture(std::string path) : path_(std::move(path)), saved_(dup(STDERR_FILENO))
    {
        std::fflush(stderr);
        const int file = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        dup2(file, STDERR_FILENO);
        ::close(file);
    }
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;
    ~StderrCapture() { restore(); }

    std::string text()
    {
        restore();
        return readFile(path_);
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stderr);
        dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }

    std::string path_;
    int saved_;
};

// The output's debug messages, kept instead of printed, while the object
// lives.
class OutputLog {
public:
    OutputLog()
    {
        messages().clear();
        QLoggingCategory::setFilterRules(QStringLiteral("merlow.output.debug=true"));
        previous_ = qInstallMessageHandler(&OutputLog::keep);
    }
    OutputLog(const OutputLog&) = delete;
    OutputLog& operator=(const OutputLog&) = delete;
    ~OutputLog()
    {
        qInstallMessageHandler(previous_);
        QLoggingCategory::setFilterRules({});
    }

    static QStringList& messages()
    {
        static QStringList kept;
        return kept;
    }

private:
    static void keep(QtMsgType /*type*/, const QMessageLogContext& /*context*/, const QString& message)
    {
        messages().append(message);
    }

    QtMessageHandler previous_ = nullptr;
};

// No sound server answers and ALSA has no default device: the output says
// why of both, and libasound's own complaint goes to the output's log, not
// to stderr, where it would follow every file dropped on the window.
TEST(SystemOutput, WithNeitherServerNorDeviceSaysWhyAndPrintsNothingToStderr)
{
    const TempDir dir;
    playWithoutServer(dir, "# no devices\n");

    std::string error;
    bool prepared = true;
    std::string printed;
    const OutputLog log;
    {
        const auto output = systemOutput({"Merlow", MERLOW_APP_ID});
        StderrCapture stderrCapture(dir.file("stderr.txt"));
        prepared = output->prepare(44100, 2, error);
        output->close();
        printed = stderrCapture.text();
    }
    EXPECT_FALSE(prepared);
    EXPECT_EQ(printed, "");
    EXPECT_NE(error.find("no sound server"), std::string::npos) << error;
    EXPECT_NE(error.find("no ALSA device"), std::string::npos) << error;
    const QStringList& messages = OutputLog::messages();
    EXPECT_FALSE(messages.filter(QStringLiteral("no sound server:")).isEmpty()) << messages.join('\n').toStdString();
    EXPECT_FALSE(messages.filter(QRegularExpression(QStringLiteral("^ALSA: .*default"))).isEmpty())
        << messages.join('\n').toStdString();
}

} // namespace
