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

// Starts program in a child with its standard streams on the given files.
pid_t start(std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options,
    int out, int err)
{
    std::vector<std::string> storage { program.string() };
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::string const directory = options.directory.string();

    pid_t const child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        if (chdir(directory.c_str()) != 0)
            _exit(126);
        if (options.unprivileged)
            drop_privileges();
        dup2(out, STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        int const null_in = open("/dev/null", O_RDONLY);
        dup2(null_in, STDIN_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

int wait_for(pid_t child)
{
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {}
    return exit_status(wait_status);
}

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

    pid_t const child = start(program, args, options, fileno(out), fileno(err));
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

StartedProgram::StartedProgram(
    std::filesystem::path const& program, std::vector<std::string> const& args, RunOptions const& options)
{
    int const null_out = open("/dev/null", O_WRONLY | O_CLOEXEC);
    m_pid = start(program, args, options, null_out, null_out);
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
    int wait_status = 0;
    while (waitpid(child, &wait_status, 0) < 0 && errno == EINTR) {}
    return exit_status(wait_status);
}

}  // namespace support
