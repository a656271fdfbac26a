// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/firstworkingoutput.h"

#include "output/outputlog.h"

FirstWorkingOutput::FirstWorkingOutput(std::vector<std::unique_ptr<AudioOutput>> backends)
    : backends_(std::move(backends))
{
    for (const auto& backend : backends_)
        backend->setWake([this] { wakeEngine(); });
}

void FirstWorkingOutput::warmUp()
{
    for (const auto& backend : backends_) {
        if (backend->applies()) {
            backend->warmUp();
            return;
        }
    }
}

void FirstWorkingOutput::nameStream(const std::string& title)
{
    for (const auto& backend : backends_)
        backend->nameStream(title);
}

namespace {

// Asks `backend` to play, after `unanswered` (whether one before it did not
// answer); its reason in `error` where it does not.
OutputAnswer ask(AudioOutput& backend, bool unanswered, int rate, int channels, std::string& error)
{
    if (unanswered && !backend.avoidsUnansweredServer(error))
        return OutputAnswer::Refused;
    if (backend.prepare(rate, channels, error))
        return OutputAnswer::Used;
    return backend.unanswered() ? OutputAnswer::Unanswered : OutputAnswer::Refused;
}

} // namespace

bool FirstWorkingOutput::prepare(int rate, int channels, std::string& error)
{
    if (current_ != nullptr && current_->isOpen() && !current_->lost())
        return current_->prepare(rate, channels, error);
    close();
    bool unanswered = false;
    std::string reasons;
    for (const auto& backend : backends_) {
        if (!backend->applies())
            continue;
        if (abandoned_.load()) {
            error = "the engine is stopping";
            return false;
        }
        std::string reason;
        const OutputAnswer answer = ask(*backend, unanswered, rate, channels, reason);
        if (answer == OutputAnswer::Used) {
            qCDebug(outputLog) << "playing through the" << backend->name();
            current_ = backend.get();
            return true;
        }
        qCDebug(outputLog).nospace() << "no " << backend->name() << ": " << reason.c_str()
                                     << (answer == OutputAnswer::Unanswered ? " (unanswered)" : "");
        unanswered = unanswered || answer == OutputAnswer::Unanswered;
        reasons += (reasons.empty() ? "no " : " and no ") + std::string(backend->name()) + " (" + reason + ")";
    }
    error = reasons.empty() ? "no output applies" : reasons;
    return false;
}

void FirstWorkingOutput::abandonWaits()
{
    abandoned_.store(true);
    for (const auto& backend : backends_)
        backend->abandonWaits();
}

void FirstWorkingOutput::close()
{
    if (current_ != nullptr)
        current_->close();
    current_ = nullptr;
}

void FirstWorkingOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (current_ != nullptr)
        current_->write(samples, frames);
}

void FirstWorkingOutput::endOfData()
{
    if (current_ != nullptr)
        current_->endOfData();
}

void FirstWorkingOutput::start()
{
    if (current_ != nullptr)
        current_->start();
}

std::chrono::milliseconds FirstWorkingOutput::keptForFade() const
{
    return current_ != nullptr ? current_->keptForFade() : std::chrono::milliseconds(0);
}

std::chrono::milliseconds FirstWorkingOutput::refillPeriod() const
{
    return current_ != nullptr ? current_->refillPeriod() : std::chrono::milliseconds(250);
}
