// SPDX-License-Identifier: GPL-3.0-or-later
// A sound card of the tests' own, as an ALSA device: it plays in real time,
// a frame every 1/rate seconds from its own clock, as a card's converter
// does, taking from its buffer only what it plays, so that what a player
// takes back from the buffer before it is played is never heard. What it
// plays, silence while stopped or run dry included, goes to the file named
// by its `file` setting, from the moment it is opened: the recording of
// what a listener hears.
//
//   pcm_type.merlowcard { lib "/path/to/this.so" }
//   pcm.!default { type merlowcard file "/path/to/heard.raw" }
//
// 16-bit stereo only. ALSA's calls come from the player's thread; the
// card's own thread plays. One lock guards what both touch but ALSA's own
// count of the frames written, which the card only reads, as a card's
// converter reads its buffer.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr unsigned channels = 2;
constexpr std::size_t frameBytes = channels * sizeof(std::int16_t);
// How often the card plays what is due.
constexpr std::chrono::milliseconds tick{1};

struct TestCard {
    snd_pcm_ioplug_t io{};
    std::FILE* heard = nullptr;
    int pollFd = -1;

    std::mutex lock;
    std::condition_variable ticked;
    bool closing = false;
    bool running = false;
    // The frames played since the last prepare, counted on without wrapping,
    // as ALSA counts those written (the ioplug's appl_ptr).
    std::uint64_t played = 0;
    // Frames recorded since the card was opened, by its clock.
    std::chrono::steady_clock::time_point openedAt = std::chrono::steady_clock::now();
    std::uint64_t recorded = 0;
    std::vector<std::int16_t> out;
    std::thread player;

    TestCard() = default;
    TestCard(const TestCard&) = delete;
    TestCard& operator=(const TestCard&) = delete;
    ~TestCard()
    {
        if (player.joinable()) {
            {
                const std::lock_guard held(lock);
                closing = true;
            }
            ticked.notify_all();
            player.join();
        }
        if (heard != nullptr)
            std::fclose(heard);
        if (pollFd >= 0)
            ::close(pollFd);
    }

    // Plays what is due by the card's clock, from what the player has
    // written to ALSA's buffer so far. Holding `lock`.
    void playDue()
    {
        const auto elapsed = std::chrono::steady_clock::now() - openedAt;
        const auto due = static_cast<std::uint64_t>(
                             std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count())
                             * (io.rate > 0 ? io.rate : 44100) / 1'000'000
                         - recorded;
        out.assign(due * channels, 0);
        if (running && io.buffer_size > 0) {
            const std::uint64_t written = io.appl_ptr;
            const std::uint64_t taking = std::min<std::uint64_t>(due, written > played ? written - played : 0);
            const snd_pcm_channel_area_t* areas = snd_pcm_ioplug_mmap_areas(&io);
            const auto* ring = static_cast<const std::int16_t*>(areas[0].addr) + areas[0].first / 16;
            for (std::uint64_t i = 0; i < taking; ++i)
                std::memcpy(&out[i * channels], ring + (played + i) % io.buffer_size * channels, frameBytes);
            played += taking;
        }
        std::fwrite(out.data(), frameBytes, due, heard);
        std::fflush(heard);
        recorded += due;
    }

    void run()
    {
        std::unique_lock held(lock);
        while (!ticked.wait_for(held, tick, [&] { return closing; }))
            playDue();
    }
};

TestCard* cardOf(snd_pcm_ioplug_t* io)
{
    return static_cast<TestCard*>(io->private_data);
}

int start(snd_pcm_ioplug_t* io)
{
    TestCard* card = cardOf(io);
    const std::lock_guard held(card->lock);
    card->running = true;
    return 0;
}

int stop(snd_pcm_ioplug_t* io)
{
    TestCard* card = cardOf(io);
    const std::lock_guard held(card->lock);
    card->running = false;
    return 0;
}

snd_pcm_sframes_t pointer(snd_pcm_ioplug_t* io)
{
    TestCard* card = cardOf(io);
    const std::lock_guard held(card->lock);
    return io->buffer_size > 0 ? static_cast<snd_pcm_sframes_t>(card->played % io->buffer_size) : 0;
}

int prepare(snd_pcm_ioplug_t* io)
{
    TestCard* card = cardOf(io);
    const std::lock_guard held(card->lock);
    card->played = 0;
    card->running = false;
    return 0;
}

int close(snd_pcm_ioplug_t* io)
{
    delete cardOf(io); // NOLINT(cppcoreguidelines-owning-memory): ALSA's close hands the card back
    return 0;
}

const snd_pcm_ioplug_callback_t callbacks = [] {
    snd_pcm_ioplug_callback_t made{};
    made.start = start;
    made.stop = stop;
    made.pointer = pointer;
    made.prepare = prepare;
    made.close = close;
    return made;
}();

int constrain(snd_pcm_ioplug_t* io)
{
    const unsigned accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    const unsigned formats[] = {SND_PCM_FORMAT_S16_LE};
    int status = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, accesses);
    if (status >= 0)
        status = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats);
    if (status >= 0)
        status = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, channels, channels);
    if (status >= 0)
        status = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000);
    if (status >= 0)
        status = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1 << 18);
    if (status >= 0)
        status = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
    if (status >= 0)
        status = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 1 << 10, 1 << 22);
    return status;
}

} // namespace

extern "C" {

SND_PCM_PLUGIN_DEFINE_FUNC(merlowcard)
{
    static_cast<void>(root);
    std::string file;
    snd_config_iterator_t i = nullptr;
    snd_config_iterator_t next = nullptr;
    snd_config_for_each(i, next, conf)
    {
        snd_config_t* node = snd_config_iterator_entry(i);
        const char* id = nullptr;
        const char* value = nullptr;
        if (snd_config_get_id(node, &id) < 0)
            continue;
        if (std::strcmp(id, "file") == 0 && snd_config_get_string(node, &value) >= 0)
            file = value;
    }
    if (file.empty() || stream != SND_PCM_STREAM_PLAYBACK)
        return -EINVAL;

    auto card = std::make_unique<TestCard>();
    card->heard = std::fopen(file.c_str(), "wb");
    card->pollFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (card->heard == nullptr || card->pollFd < 0)
        return -errno;
    card->io.version = SND_PCM_IOPLUG_VERSION;
    card->io.name = "the tests' sound card";
    card->io.callback = &callbacks;
    card->io.private_data = card.get();
    card->io.poll_fd = card->pollFd;
    card->io.poll_events = POLLOUT;
    card->io.mmap_rw = 1;
    int status = snd_pcm_ioplug_create(&card->io, name, stream, mode);
    if (status < 0)
        return status;
    TestCard* created = card.release();
    status = constrain(&created->io);
    if (status < 0) {
        snd_pcm_ioplug_delete(&created->io);
        return status;
    }
    created->openedAt = std::chrono::steady_clock::now();
    created->player = std::thread([created] { created->run(); });
    *pcmp = created->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(merlowcard);
}
