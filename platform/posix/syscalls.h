// Every system call the POSIX backend makes goes through this table, so tests
// can fail any one of them. Product code never writes it: a shipped binary
// makes exactly the real calls.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace platform::os {

struct Syscalls {
    int (*stat)(char const* path, struct stat* info);
    int (*open)(char const* path, int flags, mode_t mode);
    ssize_t (*pread)(int fd, void* buffer, size_t size, off_t offset);
    ssize_t (*pwrite)(int fd, void const* buffer, size_t size, off_t offset);
    ssize_t (*write)(int fd, void const* buffer, size_t size);
    int (*fstat)(int fd, struct stat* info);
    int (*flock)(int fd, int operation);
    int (*fcntl)(int fd, int command, struct flock* lock);
    int (*ftruncate)(int fd, off_t length);
    int (*close)(int fd);
};

extern Syscalls g_syscalls;

}  // namespace platform::os
