#include "platform/os.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <unistd.h>

#include "platform/posix/syscalls.h"
#include "platform/string_table.h"

namespace platform::os {

Syscalls g_syscalls {
    .stat = ::stat,
    .open = [](char const* path, int flags, mode_t mode) { return ::open(path, flags, mode); },
    .pread = ::pread,
    .pwrite = ::pwrite,
    .write = ::write,
    .fstat = ::fstat,
    .flock = ::flock,
    .fcntl = [](int fd, int command, struct flock* lock) { return ::fcntl(fd, command, lock); },
    .ftruncate = ::ftruncate,
    .close = ::close,
};

namespace {

Status failure(int error) { return { false, error }; }

// Makes the call again for as long as a signal interrupts it.
template <class Call> auto retrying(Call call)
{
    decltype(call()) result;
    do {
        result = call();
    } while (result < 0 && errno == EINTR);
    return result;
}

Status fail_and_close(int fd)
{
    int const error = errno;
    g_syscalls.close(fd);
    return failure(error);
}

// O_NONBLOCK keeps the open itself from waiting on a FIFO or a device that
// took the place of the file just looked at; for a regular file it means
// nothing, and anything else is refused right after.
constexpr int open_flags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

int not_regular(struct stat const& info) { return S_ISDIR(info.st_mode) ? EISDIR : EINVAL; }

// Opens path only when it names a regular file: opening a device can act on
// it (a watchdog, a tape that rewinds), so anything else is refused by its
// name first. A missing file is opened only when flags may create it.
Status open_regular(char const* path, int flags, int& fd, struct stat& info)
{
    struct stat named {};
    bool const exists = retrying([&] { return g_syscalls.stat(path, &named); }) == 0;
    if (!exists && (errno != ENOENT || (flags & O_CREAT) == 0))
        return failure(errno);
    if (exists && !S_ISREG(named.st_mode))
        return failure(not_regular(named));

    fd = retrying([&] { return g_syscalls.open(path, flags, 0666); });
    if (fd < 0)
        return failure(errno);
    if (retrying([&] { return g_syscalls.fstat(fd, &info); }) != 0)
        return fail_and_close(fd);
    if (!S_ISREG(info.st_mode)) {
        g_syscalls.close(fd);
        return failure(not_regular(info));
    }
    return {};
}

// Both kinds of lock that other programs take: flock, and a record lock on
// the whole file. The record lock belongs to the open file, not the process,
// so two opens in one process conflict with either.
Status lock_exclusive(int fd)
{
    struct flock whole_file {};
    whole_file.l_type = F_WRLCK;
    whole_file.l_whence = SEEK_SET;
    if (retrying([&] { return g_syscalls.flock(fd, LOCK_EX | LOCK_NB); }) != 0)
        return fail_and_close(fd);
    // A kernel too old for record locks on open files rejects the command
    // itself; the flock then has to do.
    if (retrying([&] { return g_syscalls.fcntl(fd, F_OFD_SETLK, &whole_file); }) != 0 && errno != EINVAL)
        return fail_and_close(fd);
    return {};
}

// Large transfers are cut so every chunk stays within what one call may move.
constexpr std::size_t max_chunk = std::size_t { 1 } << 30;

bool fits_in_offsets(std::uint64_t offset, std::size_t size)
{
    constexpr auto max_offset = std::uint64_t(std::numeric_limits<off_t>::max());
    return offset <= max_offset && size <= max_offset - offset;
}

// Calls call(done, chunk) until size bytes have moved, through interruptions
// and short transfers. Returns the last call's result: positive once all
// moved, 0 when a call moved nothing, or -1 with errno set.
template <class Call> ssize_t move_all(std::size_t size, std::size_t& done, Call call)
{
    done = 0;
    ssize_t last = 1;
    while (done < size) {
        last = retrying([&] { return call(done, std::min(size - done, max_chunk)); });
        if (last <= 0)
            break;
        done += std::size_t(last);
    }
    return last;
}

// A write that moved nothing would loop forever; it is a failure.
Status written_status(ssize_t last)
{
    if (last < 0)
        return failure(errno);
    return last == 0 ? failure(EIO) : Status {};
}

}  // namespace

Status open_existing(char const* path, Handle& handle)
{
    int fd;
    struct stat info {};
    if (Status const status = open_regular(path, open_flags, fd, info); !status.ok)
        return status;
    if (Status const status = lock_exclusive(fd); !status.ok)
        return status;
    handle = fd;
    return {};
}

Status create_or_empty(char const* path, Handle& handle)
{
    // Not O_TRUNC: the file may be emptied only once it is ours. Nor a file
    // reached through a symbolic link or that has other names: it may be
    // another name of the very data file the run is about to clean.
    int fd;
    struct stat info {};
    if (Status const status = open_regular(path, open_flags | O_CREAT | O_NOFOLLOW, fd, info); !status.ok)
        return status;
    if (info.st_nlink > 1) {
        g_syscalls.close(fd);
        return failure(EMLINK);
    }
    if (Status const status = lock_exclusive(fd); !status.ok)
        return status;
    if (retrying([&] { return g_syscalls.ftruncate(fd, 0); }) != 0)
        return fail_and_close(fd);
    handle = fd;
    return {};
}

Status read_at(Handle handle, std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    if (!fits_in_offsets(offset, size))
        return failure(EOVERFLOW);
    auto* bytes = static_cast<unsigned char*>(buffer);
    ssize_t const last = move_all(size, got, [&](std::size_t at, std::size_t chunk) {
        return g_syscalls.pread(handle, bytes + at, chunk, off_t(offset + at));
    });
    return last < 0 ? failure(errno) : Status {};
}

Status write_at(Handle handle, std::uint64_t offset, void const* buffer, std::size_t size)
{
    if (!fits_in_offsets(offset, size))
        return failure(EOVERFLOW);
    auto const* bytes = static_cast<unsigned char const*>(buffer);
    std::size_t done = 0;
    ssize_t const last = move_all(size, done, [&](std::size_t at, std::size_t chunk) {
        return g_syscalls.pwrite(handle, bytes + at, chunk, off_t(offset + at));
    });
    return written_status(last);
}

Status write_text(Handle handle, char const* text, std::size_t size, std::size_t& written)
{
    // A line feed is stored as it is.
    ssize_t const last = move_all(
        size, written, [&](std::size_t at, std::size_t chunk) { return g_syscalls.write(handle, text + at, chunk); });
    return written_status(last);
}

Status close(Handle handle)
{
    // The descriptor is gone even when close reports an error; retrying on
    // EINTR could close a descriptor that another open has reused meanwhile.
    return g_syscalls.close(handle) == 0 || errno == EINTR ? Status {} : failure(errno);
}

bool load_string(unsigned id, std::string& text)
{
    auto const found = std::ranges::find(g_string_table, id, &StringResource::id);
    if (found == g_string_table.end())
        return false;
    text = found->text;
    return true;
}

void prepare_process()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void* module_handle()
{
    static char s_module;
    return &s_module;
}

char* command_line()
{
    // Only a system with /proc tells a process its own command line.
    static std::string s_line = [] {
        std::string line;
        int const fd = retrying([] { return g_syscalls.open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC, 0); });
        if (fd >= 0) {
            char chunk[4096];
            std::size_t got = 0;
            while (read_at(fd, line.size(), chunk, sizeof chunk, got).ok && got > 0)
                line.append(chunk, got);
            close(fd);
        }
        if (!line.empty() && line.back() == '\0')
            line.pop_back();
        std::ranges::replace(line, '\0', ' ');
        return line;
    }();
    return s_line.data();
}

}  // namespace platform::os
