// SPDX-License-Identifier: GPL-3.0-or-later
// How far ahead of what is heard the stream's sink mixes, as the server is
// set up: asked of it, within the main loop's bound. The rest of the stream
// is in pulsestream.cpp.
#include "output/pulsestream.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/stream.h>

#include "output/pulsemainloop.h"

namespace {

// What the sink's description hands to the thread waiting on it.
struct SinkLatency {
    PulseMainLoop& mainLoop;
    std::optional<pa_usec_t> configured;
};

void onSinkInfo(pa_context* /*context*/, const pa_sink_info* info, int last, void* userdata)
{
    auto* result = static_cast<SinkLatency*>(userdata);
    if (last == 0 && info != nullptr)
        result->configured = info->configured_latency;
    result->mainLoop.signal();
}

} // namespace

std::optional<std::chrono::microseconds> PulseStream::sinkLatency(std::string& error)
{
    SinkLatency query{mainLoop_, std::nullopt};
    pa_operation* operation = pa_context_get_sink_info_by_index(mainLoop_.context(),
                                                                pa_stream_get_device_index(stream_), &onSinkInfo,
                                                                &query);
    if (!mainLoop_.await(operation, error))
        return std::nullopt;
    if (!query.configured) {
        error = "the server does not describe the stream's sink";
        return std::nullopt;
    }
    return std::chrono::microseconds(*query.configured);
}
