// Running the built executable as a user would: in a directory, with
// arguments, capturing its output and exit status.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
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
    std::filesystem::path launcher {};  // runs the program when given, as Wine runs a Windows one
};

// Runs program with args (not including argv[0]) and waits for it.
ToolResult run_program(
    std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options = {});

// A program left running beside the test, which reads what it prints and
// tells it to finish by closing its standard input.
class RunningProgram {
public:
    RunningProgram(
        std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options = {});
    ~RunningProgram();
    RunningProgram(RunningProgram const&) = delete;
    RunningProgram& operator=(RunningProgram const&) = delete;

    // The next line of its standard output without the line ending, or
    // nullopt once it has closed its output.
    std::optional<std::string> read_line();

    // Closes its standard input and returns its exit status once it has
    // exited (-1 when it did not exit normally). Called at most once; the
    // destructor calls it when the test has not.
    int finish();

private:
    int m_pid { -1 };
    int m_to_child { -1 };
    int m_from_child { -1 };
    std::string m_pending;
    bool m_finished { false };
};

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
    int m_pid { -1 };
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
