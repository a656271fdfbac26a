#include "engine/systemoutput.h"

SystemOutput::SystemOutput()
{
    server_.setWake([this] { wakeEngine(); });
}

bool SystemOutput::prepare(int rate, int channels, std::string& error)
{
    if (current_ != nullptr && current_->isOpen() && !current_->lost())
        return current_->prepare(rate, channels, error);
    close();
    std::string serverError;
    if (server_.prepare(rate, channels, serverError)) {
        current_ = &server_;
        return true;
    }
    std::string deviceError;
    if (device_.prepare(rate, channels, deviceError)) {
        current_ = &device_;
        return true;
    }
    error = "no sound server (" + serverError + ") and no ALSA device (" + deviceError + ")";
    return false;
}

void SystemOutput::close()
{
    if (current_ != nullptr)
        current_->close();
    current_ = nullptr;
}

void SystemOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (current_ != nullptr)
        current_->write(samples, frames);
}

void SystemOutput::endOfData()
{
    if (current_ != nullptr)
        current_->endOfData();
}

void SystemOutput::start()
{
    if (current_ != nullptr)
        current_->start();
}

std::chrono::milliseconds SystemOutput::refillPeriod() const
{
    return current_ != nullptr ? current_->refillPeriod() : std::chrono::milliseconds(250);
}
