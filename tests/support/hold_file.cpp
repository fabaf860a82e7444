// A program of the test suite, built for Windows, that holds a file the way
// another running process would:
//   hold_file PATH            opens PATH for reading and writing, share mode 0
//   hold_file --shared PATH   the same, sharing it for reading, writing and deleting
//   hold_file --pipe NAME     creates the named pipe \\.\pipe\NAME
// It prints "held" once it holds it, or "failed" and the error number and
// exits with 1, then holds it until its standard input ends.
#include <cstdio>
#include <cstring>
#include <string>
#include <windows.h>

int main(int argc, char* argv[])
{
    HANDLE held = INVALID_HANDLE_VALUE;
    if (argc == 2 || (argc == 3 && std::strcmp(argv[1], "--shared") == 0)) {
        DWORD const share = argc == 2 ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
        held = CreateFileA(argv[argc - 1], GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL, nullptr);
    } else if (argc == 3 && std::strcmp(argv[1], "--pipe") == 0) {
        std::string const name = std::string("\\\\.\\pipe\\") + argv[2];
        held
            = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
    } else {
        std::fprintf(stderr, "usage: hold_file [--shared] PATH | hold_file --pipe NAME\n");
        return 2;
    }
    if (held == INVALID_HANDLE_VALUE) {
        std::printf("failed %lu\n", GetLastError());
        return 1;
    }
    std::printf("held\n");
    std::fflush(stdout);

    char ignored[64];
    while (std::fread(ignored, 1, sizeof ignored, stdin) > 0) {}
    CloseHandle(held);
    return 0;
}
