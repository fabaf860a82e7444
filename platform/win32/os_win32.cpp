#include "platform/os.h"

#include <algorithm>
#include <array>
#include <vector>

#include "platform/win32/syscalls.h"

// The runtime's start-up expands no wildcards in the command line, whatever
// its own default: `velmorane *.txt` reaches main as the literal "*.txt".
extern "C" {
int _dowildcard = 0;
}

namespace platform::os {

Syscalls g_syscalls {
    .CreateFileA = ::CreateFileA,
    .ReadFile = ::ReadFile,
    .WriteFile = ::WriteFile,
    .GetFileType = ::GetFileType,
    .GetFileInformationByHandle = ::GetFileInformationByHandle,
    .SetFilePointerEx = ::SetFilePointerEx,
    .SetEndOfFile = ::SetEndOfFile,
    .CloseHandle = ::CloseHandle,
};

namespace {

Status failure(DWORD error) { return { false, static_cast<int>(error) }; }

Status fail_and_close(HANDLE file)
{
    DWORD const error = GetLastError();
    g_syscalls.CloseHandle(file);
    return failure(error);
}

// Share mode 0 holds the file against every other open of it, this process's
// own included, until the handle is closed.
Status open_disk_file(char const* path, DWORD disposition, DWORD flags, HANDLE& file, BY_HANDLE_FILE_INFORMATION& info)
{
    file = g_syscalls.CreateFileA(
        path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failure(GetLastError());

    // Devices (NUL, CON, COM1) and pipes open like files; only a file on a
    // disk is ours to clean.
    // FIXME: a raw volume or disk (\\.\C:, \\.\PhysicalDrive0) is a disk too,
    // and an administrator could open one.
    SetLastError(NO_ERROR);
    if (DWORD const type = g_syscalls.GetFileType(file); type != FILE_TYPE_DISK) {
        DWORD const error = GetLastError();
        g_syscalls.CloseHandle(file);
        return failure(type == FILE_TYPE_UNKNOWN && error != NO_ERROR ? error : ERROR_INVALID_PARAMETER);
    }
    if (!g_syscalls.GetFileInformationByHandle(file, &info))
        return fail_and_close(file);
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        g_syscalls.CloseHandle(file);
        return failure(ERROR_ACCESS_DENIED);
    }
    return {};
}

// Each call moves at most this much, well within a DWORD count.
constexpr std::size_t max_chunk = std::size_t { 1 } << 30;

OVERLAPPED at_offset(std::uint64_t offset)
{
    OVERLAPPED overlapped {};
    overlapped.Offset = static_cast<DWORD>(offset);
    overlapped.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return overlapped;
}

// Writes all size bytes at the file pointer, which moves past them; done
// counts the bytes written, on failure too.
Status write_all(HANDLE file, char const* bytes, std::size_t size, std::size_t& done)
{
    done = 0;
    while (done < size) {
        DWORD n = 0;
        if (!g_syscalls.WriteFile(
                file, bytes + done, static_cast<DWORD>(std::min(size - done, max_chunk)), &n, nullptr))
            return failure(GetLastError());
        if (n == 0)
            return failure(ERROR_WRITE_FAULT);
        done += n;
    }
    return {};
}

}  // namespace

Status open_existing(char const* path, Handle& handle)
{
    HANDLE file;
    BY_HANDLE_FILE_INFORMATION info {};
    if (Status const status = open_disk_file(path, OPEN_EXISTING, 0, file, info); !status.ok)
        return status;
    handle = file;
    return {};
}

Status create_or_empty(char const* path, Handle& handle)
{
    // Not CREATE_ALWAYS: the file may be emptied only once the open has
    // succeeded, so a log that another process holds keeps its content. Nor a
    // file reached through a link or that has other names: it may be another
    // name of the very data file the run is about to clean.
    HANDLE file;
    BY_HANDLE_FILE_INFORMATION info {};
    if (Status const status = open_disk_file(path, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT, file, info); !status.ok)
        return status;
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks > 1) {
        g_syscalls.CloseHandle(file);
        return failure(ERROR_CANT_ACCESS_FILE);
    }
    if (!g_syscalls.SetFilePointerEx(file, LARGE_INTEGER {}, nullptr, FILE_BEGIN) || !g_syscalls.SetEndOfFile(file))
        return fail_and_close(file);
    handle = file;
    return {};
}

Status read_at(Handle handle, std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got)
{
    got = 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (got < size) {
        OVERLAPPED overlapped = at_offset(offset + got);
        DWORD n = 0;
        if (!g_syscalls.ReadFile(
                handle, bytes + got, static_cast<DWORD>(std::min(size - got, max_chunk)), &n, &overlapped)) {
            // A read from an offset at or past the end reports it as an error.
            if (DWORD const error = GetLastError(); error != ERROR_HANDLE_EOF)
                return failure(error);
            break;
        }
        if (n == 0)
            break;
        got += n;
    }
    return {};
}

Status write_at(Handle handle, std::uint64_t offset, void const* buffer, std::size_t size)
{
    std::size_t done = 0;
    auto const* bytes = static_cast<unsigned char const*>(buffer);
    while (done < size) {
        OVERLAPPED overlapped = at_offset(offset + done);
        DWORD n = 0;
        if (!g_syscalls.WriteFile(
                handle, bytes + done, static_cast<DWORD>(std::min(size - done, max_chunk)), &n, &overlapped))
            return failure(GetLastError());
        if (n == 0)
            return failure(ERROR_WRITE_FAULT);
        done += n;
    }
    return {};
}

Status write_text(Handle handle, char const* text, std::size_t size, std::size_t& written)
{
    // Text mode stores each line feed as CR LF and leaves every other byte,
    // a CR of the text's own included, as it is.
    written = 0;
    std::array<char, 4096> out;
    while (written < size) {
        std::size_t used = 0;
        std::size_t taken = 0;
        while (written + taken < size && out.size() - used >= 2) {
            char const byte = text[written + taken++];
            if (byte == '\n')
                out[used++] = '\r';
            out[used++] = byte;
        }
        std::size_t stored = 0;
        if (Status const status = write_all(handle, out.data(), used, stored); !status.ok) {
            // Only bytes whose whole line ending reached the file count as written.
            std::size_t const base = written;
            std::size_t end = 0;
            for (std::size_t k = 0; k < taken; ++k) {
                end += text[base + k] == '\n' ? 2 : 1;
                if (end > stored)
                    break;
                ++written;
            }
            return status;
        }
        written += taken;
    }
    return {};
}

Status close(Handle handle)
{
    // The handle is gone even when closing reports an error.
    return g_syscalls.CloseHandle(handle) ? Status {} : failure(GetLastError());
}

bool load_string(unsigned id, std::string& text)
{
    // LoadStringA cuts a string that doesn't fit, so a full buffer is tried
    // again at twice the size.
    std::vector<char> buffer(256);
    for (;;) {
        int const length = LoadStringA(GetModuleHandleA(nullptr), id, buffer.data(), static_cast<int>(buffer.size()));
        if (length <= 0)
            return false;
        if (static_cast<std::size_t>(length) < buffer.size() - 1) {
            text.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Windows reports both as failed writes already.
void prepare_process() {}

void* module_handle() { return GetModuleHandleA(nullptr); }

char* command_line() { return GetCommandLineA(); }

}  // namespace platform::os
