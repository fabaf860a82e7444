// Faults in the POSIX backend's system calls. A guard swaps every entry of the
// backend's table for a fake that notes the call and, on the chosen call,
// fails it; its destructor puts the real calls back. One guard at a time.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

#include "platform/posix/syscalls.h"

namespace support {

using platform::os::Syscalls;

// The entries of the table.
enum class Entry { open, pread, pwrite, write, fstat, flock, fcntl, ftruncate, close, stat };

char const* entry_name(Entry entry);

// Whether the entry moves bytes, and so can be cut short.
bool transfers(Entry entry);

// One call through the table, as the fake saw it.
struct Call {
    Entry entry;
    int fd;  // the descriptor it works on; for open, the one it returned
    std::string path;  // stat and open only
    off_t offset;  // pread and pwrite only
    bool failed;  // the guard failed or shortened it
};

// Which entry a member of the table is.
Entry entry_at(std::size_t offset_in_table);
template <class Function> Entry entry_of(Function Syscalls::*member)
{
    auto const& table = platform::os::g_syscalls;
    return entry_at(static_cast<std::size_t>(
        reinterpret_cast<char const*>(&(table.*member)) - reinterpret_cast<char const*>(&table)));
}

// Notes every call through the table while it lives.
class CallLog {
public:
    CallLog();
    ~CallLog();
    CallLog(CallLog const&) = delete;
    CallLog& operator=(CallLog const&) = delete;

    std::vector<Call> const& calls() const;

    // Whether the guard acted on some call.
    bool fired() const;

protected:
    // What the guard does to the on_call-th call (counted from 1) of entry, or
    // of any entry when there is none; nothing when on_call is 0.
    struct Plan {
        std::optional<Entry> entry;
        int on_call { 0 };
        int error { 0 };
        bool every_later_call { false };
        std::function<bool(std::vector<Call> const&)> hook_at;  // instead of a failure
        std::function<void()> hook;
    };
    explicit CallLog(Plan plan);
};

struct AnyCall {};
inline constexpr AnyCall any_call {};

// Fails the on_call-th call (counted from 1) of one entry, or of the table
// whatever the entry, with error as errno. A faked close still closes the
// real descriptor.
//
//     FailingCall guard(&Syscalls::write, /* on_call */ 2, EIO);  // only the 2nd write fails
class FailingCall : public CallLog {
public:
    enum Repeat { once, from_then_on };

    // In place of an errno: the read or write moves only part of what it was
    // asked for, as an interrupted transfer does. A call of one byte, or of an
    // entry that moves no bytes, is left alone.
    static constexpr int short_transfer = -1;

    template <class Function>
    FailingCall(Function Syscalls::*member, int on_call, int error, Repeat repeat = once)
        : CallLog(Plan { entry_of(member), on_call, error, repeat == from_then_on, {}, {} })
    {
    }
    FailingCall(Entry entry, int on_call, int error, Repeat repeat = once)
        : CallLog(Plan { entry, on_call, error, repeat == from_then_on, {}, {} })
    {
    }
    FailingCall(AnyCall, int on_call, int error, Repeat repeat = once)
        : CallLog(Plan { std::nullopt, on_call, error, repeat == from_then_on, {}, {} })
    {
    }
};

// Runs hook just before the first call for which at, given every call so far
// with that one last, returns true; the call then goes on unchanged. A way to
// act while the tool stands at a known point of its run.
class CallHook : public CallLog {
public:
    using Point = std::function<bool(std::vector<Call> const& calls)>;

    CallHook(Point at, std::function<void()> hook)
        : CallLog(Plan { std::nullopt, 0, 0, false, std::move(at), std::move(hook) })
    {
    }
};

// Whether the last call closes what the last open of path returned.
bool closing(std::vector<Call> const& calls, std::string const& path);

}  // namespace support
