// SPDX-License-Identifier: GPL-3.0-or-later
// Preloaded into a program under test: slows, or blocks for a while, each
// read of one file, as a slow disk or a dead network share would, and counts
// the reads of it begun. The file is matched by device and inode, so every
// descriptor open on it is slowed, however it was opened. Told through the
// environment, read once when the library loads (see harness/slowreads.h):
//   MERLOW_SLOWREADS_DEVICE, MERLOW_SLOWREADS_INODE  the file (decimal)
//   MERLOW_SLOWREADS_DELAY_MS   each read of it lasts this much longer
//   MERLOW_SLOWREADS_BLOCK_READ, MERLOW_SLOWREADS_BLOCK_MS
//                               that read of it (1 the first) blocks so long
//   MERLOW_SLOWREADS_COUNT_FILE a byte is added to that file as each begins
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ctime>

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Settings {
    bool active = false;
    dev_t device = 0;
    ino_t inode = 0;
    long delayMs = 0;
    long blockRead = 0;
    long blockMs = 0;
    int countFd = -1;
};

long number(const char* name)
{
    const char* text = std::getenv(name);
    return text != nullptr ? std::strtol(text, nullptr, 10) : 0;
}

Settings settings;
std::atomic<long> readsBegun{0};

__attribute__((constructor)) void loadSettings()
{
    const char* device = std::getenv("MERLOW_SLOWREADS_DEVICE");
    const char* inode = std::getenv("MERLOW_SLOWREADS_INODE");
    if (device == nullptr || inode == nullptr)
        return;
    settings.device = static_cast<dev_t>(std::strtoull(device, nullptr, 10));
    settings.inode = static_cast<ino_t>(std::strtoull(inode, nullptr, 10));
    settings.delayMs = number("MERLOW_SLOWREADS_DELAY_MS");
    settings.blockRead = number("MERLOW_SLOWREADS_BLOCK_READ");
    settings.blockMs = number("MERLOW_SLOWREADS_BLOCK_MS");
    if (const char* count = std::getenv("MERLOW_SLOWREADS_COUNT_FILE"))
        settings.countFd = ::open(count, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    settings.active = true;
}

void sleepFor(long ms)
{
    timespec left{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

// Holds a read of the file as long as it is told to; the caller's errno is kept.
void holdIfSlowed(int fd)
{
    if (!settings.active)
        return;
    const int savedErrno = errno;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_dev == settings.device && info.st_ino == settings.inode) {
        const long nth = readsBegun.fetch_add(1) + 1;
        if (settings.countFd >= 0)
            (void)!::write(settings.countFd, "r", 1);
        sleepFor(nth == settings.blockRead ? settings.blockMs : settings.delayMs);
    }
    errno = savedErrno;
}

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

ssize_t read(int fd, void* buffer, size_t size)
{
    static const auto real = next<ssize_t (*)(int, void*, size_t)>("read");
    holdIfSlowed(fd);
    return real(fd, buffer, size);
}

ssize_t pread(int fd, void* buffer, size_t size, off_t offset)
{
    static const auto real = next<ssize_t (*)(int, void*, size_t, off_t)>("pread");
    holdIfSlowed(fd);
    return real(fd, buffer, size, offset);
}

ssize_t pread64(int fd, void* buffer, size_t size, off64_t offset)
{
    static const auto real = next<ssize_t (*)(int, void*, size_t, off64_t)>("pread64");
    holdIfSlowed(fd);
    return real(fd, buffer, size, offset);
}

} // extern "C"
