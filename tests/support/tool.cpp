#include "tests/support/tool.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace support {

namespace {

std::string read_all(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t const n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

void drop_privileges()
{
    if (geteuid() != 0)
        return;
    if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 || setresuid(nobody, nobody, nobody) != 0)
        _exit(125);
}

int exit_status(int wait_status) { return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1; }

int wait_for(pid_t child)
{
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {}
    return exit_status(wait_status);
}

// The argument vector of a run, made before fork so the child only execs.
class Command {
public:
    Command(std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options)
        : m_directory(options.directory.string())
        , m_unprivileged(options.unprivileged)
    {
        if (!options.launcher.empty())
            m_storage.push_back(options.launcher.string());
        m_storage.push_back(program.string());
        m_storage.insert(m_storage.end(), args.begin(), args.end());
        m_argv.reserve(m_storage.size() + 1);
        for (auto& arg : m_storage)
            m_argv.push_back(arg.data());
        m_argv.push_back(nullptr);
    }

    // In the child: enters the directory, drops privileges when asked and
    // runs the command; never returns.
    [[noreturn]] void exec()
    {
        if (chdir(m_directory.c_str()) != 0)
            _exit(126);
        if (m_unprivileged)
            drop_privileges();
        execv(m_argv[0], m_argv.data());
        _exit(127);
    }

private:
    std::string m_directory;
    bool m_unprivileged;
    std::vector<std::string> m_storage;
    std::vector<char*> m_argv;
};

}  // namespace

bool running_as_root() { return geteuid() == 0; }

ToolResult run_program(
    std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options)
{
    // Output goes to files, not pipes, so a large output can't stall the child.
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    if (out == nullptr || err == nullptr)
        throw std::runtime_error("tmpfile failed");

    Command command(program, args, options);
    pid_t const child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(fileno(out), STDOUT_FILENO);
        dup2(fileno(err), STDERR_FILENO);
        int const null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, STDIN_FILENO);
        command.exec();
    }
    ToolResult result;
    result.status = wait_for(child);
    rewind(out);
    rewind(err);
    result.out = read_all(fileno(out));
    result.err = read_all(fileno(err));
    fclose(out);
    fclose(err);
    return result;
}

RunningProgram::RunningProgram(
    std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options)
{
    // Close-on-exec, so no other child keeps the program's input open.
    int input[2];
    int output[2];
    if (pipe2(input, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (pipe2(output, O_CLOEXEC) != 0) {
        close(input[0]);
        close(input[1]);
        throw std::runtime_error("pipe failed");
    }
    Command command(program, args, options);
    m_pid = fork();
    if (m_pid < 0)
        throw std::runtime_error("fork failed");
    if (m_pid == 0) {
        dup2(input[0], STDIN_FILENO);
        dup2(output[1], STDOUT_FILENO);
        command.exec();
    }
    close(input[0]);
    close(output[1]);
    m_to_child = input[1];
    m_from_child = output[0];
}

RunningProgram::~RunningProgram()
{
    if (!m_finished)
        finish();
    close(m_from_child);
}

std::optional<std::string> RunningProgram::read_line()
{
    for (;;) {
        if (auto const end = m_pending.find('\n'); end != std::string::npos) {
            std::string line = m_pending.substr(0, end);
            m_pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        char buffer[256];
        ssize_t const n = read(m_from_child, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        m_pending.append(buffer, static_cast<std::size_t>(n));
    }
}

int RunningProgram::finish()
{
    m_finished = true;
    close(m_to_child);
    return wait_for(m_pid);
}

StartedProgram::StartedProgram(
    std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options)
{
    Command command(program, args, options);
    int const null_out = open("/dev/null", O_WRONLY | O_CLOEXEC);
    m_pid = fork();
    if (m_pid < 0) {
        close(null_out);
        throw std::runtime_error("fork failed");
    }
    if (m_pid == 0) {
        int const null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, STDIN_FILENO);
        dup2(null_out, STDOUT_FILENO);
        dup2(null_out, STDERR_FILENO);
        command.exec();
    }
    close(null_out);
}

StartedProgram::~StartedProgram()
{
    if (!m_waited) {
        ::kill(m_pid, SIGKILL);
        wait();
    }
}

void StartedProgram::kill(int signal) { ::kill(m_pid, signal); }

int StartedProgram::wait()
{
    m_waited = true;
    return wait_for(m_pid);
}

int run_unprivileged(std::function<int()> const& body)
{
    pid_t const child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        drop_privileges();
        _exit(body());
    }
    return wait_for(child);
}

}  // namespace support
