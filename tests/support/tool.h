// Running the built executable as a user would: in a directory, with
// arguments, capturing its output and exit status.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace support {

struct ToolResult {
    int status { -1 };  // exit status, or -1 when the process did not exit
    std::string out;
    std::string err;
};

struct RunOptions {
    std::filesystem::path directory { "." };
    bool unprivileged { false };  // run as nobody when the test runs as root
};

// Runs program with args (not including argv[0]) and waits for it.
ToolResult run_program(
    std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options = {});

// A program started without waiting for it, its output thrown away. Going out
// of scope kills it if it still runs.
class StartedProgram {
public:
    StartedProgram(
        std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options = {});
    ~StartedProgram();
    StartedProgram(StartedProgram const&) = delete;
    StartedProgram& operator=(StartedProgram const&) = delete;

    void kill(int signal);

    // Waits for the program; its exit status, or -1 when a signal ended it.
    int wait();

private:
    int m_pid;
    bool m_waited { false };
};

// The uid and gid that unprivileged runs take when the tests run as root.
constexpr unsigned nobody = 65534;

// Whether the tests run as root, which ignores permission bits.
bool running_as_root();

// Runs body in a child process, as nobody when running as root, and returns
// its result (or -1 when the child did not exit normally).
int run_unprivileged(std::function<int()> const& body);

}  // namespace support
