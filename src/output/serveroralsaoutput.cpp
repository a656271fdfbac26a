// SPDX-License-Identifier: GPL-3.0-or-later
#include "output/serveroralsaoutput.h"

#include <cstdlib>

#include "output/outputlog.h"

ServerOrAlsaOutput::ServerOrAlsaOutput(const ApplicationIdentity& identity) : pipeWire_(identity), server_(identity)
{
    pipeWire_.setWake([this] { wakeEngine(); });
    server_.setWake([this] { wakeEngine(); });
}

bool ServerOrAlsaOutput::pipeWireFirst()
{
    return std::getenv("PULSE_SERVER") == nullptr && PipeWireOutput::daemonListens();
}

void ServerOrAlsaOutput::warmUp()
{
    if (pipeWireFirst())
        pipeWire_.warmUp();
    else
        server_.warmUp();
}

void ServerOrAlsaOutput::nameStream(const std::string& title)
{
    pipeWire_.nameStream(title);
    server_.nameStream(title);
}

bool ServerOrAlsaOutput::prepare(int rate, int channels, std::string& error)
{
    if (current_ != nullptr && current_->isOpen() && !current_->lost())
        return current_->prepare(rate, channels, error);
    close();
    if (pipeWireFirst()) {
        std::string pipeWireError;
        if (pipeWire_.prepare(rate, channels, pipeWireError)) {
            current_ = &pipeWire_;
            return true;
        }
        qCDebug(outputLog) << "no stream of PipeWire's own, trying its PulseAudio service:" << pipeWireError.c_str();
    }
    std::string serverError;
    if (server_.prepare(rate, channels, serverError)) {
        current_ = &server_;
        return true;
    }
    qCDebug(outputLog) << "no sound server:" << serverError.c_str();
    if (abandoned_.load()) {
        error = "the engine is stopping";
        return false;
    }
    std::string deviceError;
    const bool deviceUsable = !server_.serverUnanswered() || AlsaOutput::defaultAvoidsServer(deviceError);
    if (deviceUsable && device_.prepare(rate, channels, deviceError)) {
        qCDebug(outputLog) << "playing through ALSA's default device instead";
        current_ = &device_;
        return true;
    }
    qCDebug(outputLog) << "nor ALSA's default device:" << deviceError.c_str();
    error = "no sound server (" + serverError + ") and no ALSA device (" + deviceError + ")";
    return false;
}

void ServerOrAlsaOutput::abandonWaits()
{
    abandoned_.store(true);
    pipeWire_.abandonWaits();
    server_.abandonWaits();
}

void ServerOrAlsaOutput::close()
{
    if (current_ != nullptr)
        current_->close();
    current_ = nullptr;
}

void ServerOrAlsaOutput::write(const std::int16_t* samples, std::size_t frames)
{
    if (current_ != nullptr)
        current_->write(samples, frames);
}

void ServerOrAlsaOutput::endOfData()
{
    if (current_ != nullptr)
        current_->endOfData();
}

void ServerOrAlsaOutput::start()
{
    if (current_ != nullptr)
        current_->start();
}

std::chrono::milliseconds ServerOrAlsaOutput::refillPeriod() const
{
    return current_ != nullptr ? current_->refillPeriod() : std::chrono::milliseconds(250);
}
