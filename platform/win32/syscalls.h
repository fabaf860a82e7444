// Every system call the Win32 backend makes on a file goes through this
// table, so tests can fail any one of them. Product code never writes it: a
// shipped binary makes exactly the real calls.
#pragma once

#include <windows.h>

namespace platform::os {

struct Syscalls {
    HANDLE(WINAPI* CreateFileA)
    (LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
        HANDLE template_file);
    BOOL(WINAPI* ReadFile)(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED overlapped);
    BOOL(WINAPI* WriteFile)(HANDLE file, LPCVOID buffer, DWORD size, LPDWORD done, LPOVERLAPPED overlapped);
    DWORD(WINAPI* GetFileType)(HANDLE file);
    BOOL(WINAPI* GetFileInformationByHandle)(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
    BOOL(WINAPI* SetFilePointerEx)(HANDLE file, LARGE_INTEGER distance, PLARGE_INTEGER position, DWORD method);
    BOOL(WINAPI* SetEndOfFile)(HANDLE file);
    BOOL(WINAPI* CloseHandle)(HANDLE handle);
};

extern Syscalls g_syscalls;

}  // namespace platform::os
