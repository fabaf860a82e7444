#include "tests/support/failing_call.h"

#include <cassert>
#include <cerrno>
#include <cstddef>
#include <stdexcept>
#include <utility>

namespace support {

namespace {

using platform::os::g_syscalls;

struct State {
    Syscalls real {};
    bool installed { false };
    std::optional<Entry> entry;
    int on_call { 0 };
    int error { 0 };
    bool every_later_call { false };
    std::function<bool(std::vector<Call> const&)> hook_at;
    std::function<void()> hook;
    int counted { 0 };
    bool fired { false };
    std::vector<Call> calls;
};

State s_state;

enum class Action { pass, fail, shorten };

// Notes the call and chooses what happens to it.
Action decide(Entry entry, int fd, char const* path, off_t offset, std::size_t size)
{
    s_state.calls.push_back({ entry, fd, path != nullptr ? path : "", offset, false });
    if (s_state.hook_at && s_state.hook_at(s_state.calls)) {
        // Calls the hook makes itself go by unhooked.
        s_state.hook_at = nullptr;
        s_state.fired = true;
        auto const hook = std::exchange(s_state.hook, nullptr);
        hook();
        return Action::pass;
    }
    if (s_state.on_call == 0 || (s_state.entry && *s_state.entry != entry))
        return Action::pass;
    int const number = ++s_state.counted;
    if (number != s_state.on_call && !(s_state.every_later_call && number > s_state.on_call))
        return Action::pass;
    if (s_state.error == FailingCall::short_transfer) {
        if (!transfers(entry) || size < 2)
            return Action::pass;
        s_state.calls.back().failed = true;
        s_state.fired = true;
        return Action::shorten;
    }
    s_state.calls.back().failed = true;
    s_state.fired = true;
    return Action::fail;
}

std::size_t shortened(std::size_t size) { return size / 2; }

template <class Result> Result failure()
{
    errno = s_state.error;
    return Result(-1);
}

int fake_stat(char const* path, struct stat* info)
{
    if (decide(Entry::stat, -1, path, 0, 0) == Action::fail)
        return failure<int>();
    return s_state.real.stat(path, info);
}

int fake_open(char const* path, int flags, mode_t mode)
{
    std::size_t const index = s_state.calls.size();
    if (decide(Entry::open, -1, path, 0, 0) == Action::fail)
        return failure<int>();
    int const fd = s_state.real.open(path, flags, mode);
    int const error = errno;
    s_state.calls[index].fd = fd;
    errno = error;
    return fd;
}

ssize_t fake_pread(int fd, void* buffer, size_t size, off_t offset)
{
    switch (decide(Entry::pread, fd, nullptr, offset, size)) {
    case Action::fail: return failure<ssize_t>();
    case Action::shorten: return s_state.real.pread(fd, buffer, shortened(size), offset);
    case Action::pass: break;
    }
    return s_state.real.pread(fd, buffer, size, offset);
}

ssize_t fake_pwrite(int fd, void const* buffer, size_t size, off_t offset)
{
    switch (decide(Entry::pwrite, fd, nullptr, offset, size)) {
    case Action::fail: return failure<ssize_t>();
    case Action::shorten: return s_state.real.pwrite(fd, buffer, shortened(size), offset);
    case Action::pass: break;
    }
    return s_state.real.pwrite(fd, buffer, size, offset);
}

ssize_t fake_write(int fd, void const* buffer, size_t size)
{
    switch (decide(Entry::write, fd, nullptr, 0, size)) {
    case Action::fail: return failure<ssize_t>();
    case Action::shorten: return s_state.real.write(fd, buffer, shortened(size));
    case Action::pass: break;
    }
    return s_state.real.write(fd, buffer, size);
}

int fake_fstat(int fd, struct stat* info)
{
    if (decide(Entry::fstat, fd, nullptr, 0, 0) == Action::fail)
        return failure<int>();
    return s_state.real.fstat(fd, info);
}

int fake_flock(int fd, int operation)
{
    if (decide(Entry::flock, fd, nullptr, 0, 0) == Action::fail)
        return failure<int>();
    return s_state.real.flock(fd, operation);
}

int fake_fcntl(int fd, int command, struct flock* lock)
{
    if (decide(Entry::fcntl, fd, nullptr, 0, 0) == Action::fail)
        return failure<int>();
    return s_state.real.fcntl(fd, command, lock);
}

int fake_ftruncate(int fd, off_t length)
{
    if (decide(Entry::ftruncate, fd, nullptr, 0, 0) == Action::fail)
        return failure<int>();
    return s_state.real.ftruncate(fd, length);
}

int fake_close(int fd)
{
    // The descriptor goes whatever close reports, as with the real call.
    if (decide(Entry::close, fd, nullptr, 0, 0) == Action::fail) {
        s_state.real.close(fd);
        return failure<int>();
    }
    return s_state.real.close(fd);
}

}  // namespace

char const* entry_name(Entry entry)
{
    switch (entry) {
    case Entry::stat: return "stat";
    case Entry::open: return "open";
    case Entry::pread: return "pread";
    case Entry::pwrite: return "pwrite";
    case Entry::write: return "write";
    case Entry::fstat: return "fstat";
    case Entry::flock: return "flock";
    case Entry::fcntl: return "fcntl";
    case Entry::ftruncate: return "ftruncate";
    case Entry::close: return "close";
    }
    return "?";
}

bool transfers(Entry entry) { return entry == Entry::pread || entry == Entry::pwrite || entry == Entry::write; }

Entry entry_at(std::size_t offset_in_table)
{
    switch (offset_in_table) {
    case offsetof(Syscalls, stat): return Entry::stat;
    case offsetof(Syscalls, open): return Entry::open;
    case offsetof(Syscalls, pread): return Entry::pread;
    case offsetof(Syscalls, pwrite): return Entry::pwrite;
    case offsetof(Syscalls, write): return Entry::write;
    case offsetof(Syscalls, fstat): return Entry::fstat;
    case offsetof(Syscalls, flock): return Entry::flock;
    case offsetof(Syscalls, fcntl): return Entry::fcntl;
    case offsetof(Syscalls, ftruncate): return Entry::ftruncate;
    case offsetof(Syscalls, close): return Entry::close;
    default: throw std::logic_error("not an entry of the system call table");
    }
}

bool closing(std::vector<Call> const& calls, std::string const& path)
{
    if (calls.empty() || calls.back().entry != Entry::close)
        return false;
    for (auto call = calls.rbegin() + 1; call != calls.rend(); ++call) {
        if (call->entry == Entry::open && call->path == path)
            return call->fd == calls.back().fd;
    }
    return false;
}

CallLog::CallLog()
    : CallLog(Plan {})
{
}

CallLog::CallLog(Plan plan)
{
    if (s_state.installed)
        throw std::logic_error("one system call guard at a time");
    s_state = State {};
    s_state.real = g_syscalls;
    s_state.installed = true;
    s_state.entry = plan.entry;
    s_state.on_call = plan.on_call;
    s_state.error = plan.error;
    s_state.every_later_call = plan.every_later_call;
    s_state.hook_at = std::move(plan.hook_at);
    s_state.hook = std::move(plan.hook);
    g_syscalls = Syscalls {
        .stat = fake_stat,
        .open = fake_open,
        .pread = fake_pread,
        .pwrite = fake_pwrite,
        .write = fake_write,
        .fstat = fake_fstat,
        .flock = fake_flock,
        .fcntl = fake_fcntl,
        .ftruncate = fake_ftruncate,
        .close = fake_close,
    };
}

CallLog::~CallLog()
{
    g_syscalls = s_state.real;
    s_state = State {};
}

std::vector<Call> const& CallLog::calls() const { return s_state.calls; }

bool CallLog::fired() const { return s_state.fired; }

}  // namespace support
