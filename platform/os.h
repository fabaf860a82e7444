// The only OS-specific surface of the class library. The portable classes
// above it decide what to throw; a backend only translates: it retries
// interrupted calls, finishes partial transfers and passes the error number up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform::os {

#ifdef _WIN32
using Handle = void*;
#else
using Handle = int;
#endif

struct Status {
    bool ok { true };
    int error { 0 };  // errno, or GetLastError() on Win32
};

// Opens an existing regular file for reading and writing, held exclusively
// against every other open of it, this process's own included. Fails for a
// missing file, anything that is not a regular file, or a file already held.
Status open_existing(char const* path, Handle& handle);

// Opens or creates a regular file for writing and empties it, but only once it
// is held exclusively: a file that another open holds is left as it was. So
// is a file reached through a symbolic link, or one with other names, which
// fails to open.
Status create_or_empty(char const* path, Handle& handle);

// Reads up to size bytes at offset; got is less than size without a failure
// only at end of file. On a failure, got counts the bytes read before it.
Status read_at(Handle handle, std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got);

// Writes all size bytes at offset, or fails.
Status write_at(Handle handle, std::uint64_t offset, void const* buffer, std::size_t size);

// Appends text at the file's current end through text mode: each line feed is
// stored as the platform's line ending. written counts the bytes of text that
// reached the file, on failure too.
Status write_text(Handle handle, char const* text, std::size_t size, std::size_t& written);

// Releases the handle, even when it reports a failure.
Status close(Handle handle);

// Looks up a string of the executable's string table; false when id is unknown.
bool load_string(unsigned id, std::string& text);

// Sets the process up for the class library: a write to a closed pipe or past
// the file size limit becomes a failed call, not a signal that ends the run.
void prepare_process();

// The running executable's module handle and its whole command line.
void* module_handle();
char* command_line();

}  // namespace platform::os
