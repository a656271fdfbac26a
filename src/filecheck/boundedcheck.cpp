// SPDX-License-Identifier: GPL-3.0-or-later
#include "filecheck/boundedcheck.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QTimer>

namespace {

// The calling thread's side of the wait: woken by the check's thread as it
// finishes, and told when the application is asked to quit. The wait
// delivers events itself rather than in an event loop of its own, since
// entering one would drop a quit posted just before, as a window's close.
class Waiter : public QObject {
public:
    bool ending() const { return ending_; }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override
    {
        if (event->type() == QEvent::Quit)
            ending_ = true;
        return false;
    }

private:
    bool ending_ = false;
};

// What the check's thread hands back. The waiter is woken through `waiting`
// while it waits; once it has stopped waiting, the thread tells nobody, and
// only this, which it shares, outlives the wait.
struct Outcome {
    std::mutex mutex;
    // Guarded by mutex.
    bool done = false;
    TruthWord result = TruthFalse;
    std::optional<std::string> failure;
    Waiter* waiting = nullptr;

    bool finished()
    {
        const std::lock_guard lock(mutex);
        return done;
    }
};

void check(const QString& FilePath, Outcome& outcome)
{
    TruthWord result = TruthFalse;
    std::optional<std::string> failure;
    try {
        result = CheckMP3Header(FilePath);
    } catch (const FileCheckError& error) {
        failure = error.what();
    }
    const std::lock_guard lock(outcome.mutex);
    outcome.done = true;
    outcome.result = result;
    outcome.failure = std::move(failure);
    if (outcome.waiting != nullptr)
        QMetaObject::invokeMethod(outcome.waiting, [] {}, Qt::QueuedConnection);
}

} // namespace

std::optional<TruthWord> CheckMP3HeaderWithin(const QString& FilePath, std::chrono::milliseconds limit)
{
    const auto outcome = std::make_shared<Outcome>();
    Waiter waiter;
    QCoreApplication::instance()->installEventFilter(&waiter);
    outcome->waiting = &waiter;
    const QDeadlineTimer deadline(limit);
    std::thread([outcome, path = FilePath] { check(path, *outcome); }).detach();
    // Wakes the wait at the limit.
    QTimer::singleShot(limit, &waiter, [] {});
    while (!outcome->finished() && !deadline.hasExpired() && !waiter.ending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    const std::lock_guard lock(outcome->mutex);
    outcome->waiting = nullptr;
    if (outcome->done) {
        if (outcome->failure)
            throw FileCheckError(*outcome->failure);
        return outcome->result;
    }
    if (waiter.ending())
        return std::nullopt;
    throw FileCheckError("the file does not answer");
}
