// The built executable, run as a user would run it.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "tests/app/tool_under_test.h"
#include "tests/support/bytes.h"
#include "tests/support/clean_model.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool.h"

namespace {

using namespace support;
using namespace tool_under_test;
namespace fs = std::filesystem;

std::string const greeting = text_mode("Hello from MFC!\n");
char const* const log_name = "Velmorane.Log";

Bytes const dirty = record(0xC1) + record('b') + record(0xE3) + repeat(0xFF, 3);
Bytes const dirty_cleaned = record(0x41) + record('b') + record(0x63) + repeat(0xFF, 3);
Bytes const dirty_log = text_mode(record_line(record(0x41)) + record_line(record(0x63)) + summary_line(2));
Bytes const earlier_log = bytes("an earlier run's log\n");

enum class Log { untouched, empty, written, the_data };  // the_data: the log is another name of the data file

struct CliCase {
    char const* name;
    std::function<void()> setup;  // beside "data" and an earlier log
    std::vector<std::string> args;
    int status;
    std::vector<char const*> cleaned;  // files holding dirty that end up cleaned
    Log log;
    char const* posix_only = nullptr;  // why the case can't run against the Windows executable
};

void none() {}

void make_socket()
{
    int const fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::string const name = "sock";
    name.copy(address.sun_path, name.size());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

// A name of the data file longer than any path the system takes.
std::string too_long_path()
{
    std::string path;
    while (path.size() <= PATH_MAX)
        path += "./";
    return path + "data";
}

CliCase const cli_cases[] = {
    { "NoArgument", none, {}, 1, {}, Log::untouched },
    { "EmptyArgument", none, { "" }, 1, {}, Log::untouched },
    { "BlankArgument", none, { " \t\r\n" }, 1, {}, Log::untouched },
    { "BlankArgumentBeforeAFileName", none, { " ", "data" }, 1, {}, Log::untouched },
    { "MissingFile", none, { "missing" }, 1, {}, Log::empty },
    { "Directory", [] { fs::create_directory("dir"); }, { "dir" }, 1, {}, Log::empty },
    { "Fifo", [] { mkfifo("fifo", 0644); }, { "fifo" }, 1, {}, Log::empty,
        "Windows has no FIFOs; ANamedPipeIsRefused is its pipe case" },
    { "NulDevice", none, { "NUL" }, 1, {}, Log::empty },
    { "ConsoleDevice", none, { "CON" }, 1, {}, Log::empty },
    { "EndlessDevice", none, { "/dev/zero" }, 1, {}, Log::empty },
    { "NullDevice", none, { "/dev/null" }, 1, {}, Log::empty, "a POSIX device path; NulDevice is the Windows case" },
    { "Socket", make_socket, { "sock" }, 1, {}, Log::empty, "Windows has no sockets in the file system" },
    { "DanglingSymlink", [] { fs::create_symlink("missing", "link"); }, { "link" }, 1, {}, Log::empty },
    { "SymlinkLoop",
        [] {
            fs::create_symlink("loop2", "loop1");
            fs::create_symlink("loop1", "loop2");
        },
        { "loop1" }, 1, {}, Log::empty },
    { "PathLongerThanPathMax", none, { too_long_path() }, 1, {}, Log::empty },
    { "TheLogItself", none, { log_name }, 1, {}, Log::empty },
    { "TheLogThroughASymlink", [] { fs::create_symlink(log_name, "link"); }, { "link" }, 1, {}, Log::empty },
    // A log with another name may be somebody's data: it is not emptied, and
    // the run goes on without a log.
    { "TheLogThroughAHardLink", [] { fs::create_hard_link(log_name, "link"); }, { "link" }, 0, {}, Log::untouched },
    { "TheLogIsASymlinkToTheData",
        [] {
            fs::remove(log_name);
            fs::create_symlink("data", log_name);
        },
        { "data" }, 0, { "data" }, Log::the_data, "Wine shows a POSIX symlink as the file it names" },
    { "TheLogIsAHardLinkToTheData",
        [] {
            fs::remove(log_name);
            fs::create_hard_link("data", log_name);
        },
        { "data" }, 0, { "data" }, Log::the_data },
    { "WildcardIsLiteral", none, { "*" }, 1, {}, Log::empty },
    { "Cleaned", none, { "data" }, 0, { "data" }, Log::written },
    { "SurroundingWhiteSpace", none, { " \t data \r\n" }, 0, { "data" }, Log::written },
    { "InnerWhiteSpaceStays", [] { write_file("my  data", dirty); }, { "  my  data\t" }, 0, { "my  data" },
        Log::written },
    { "OnlyTheFirstArgument", [] { write_file("other", dirty); }, { "data", "other" }, 0, { "data" }, Log::written },
    { "FileNamedWithAWildcard", [] { write_file("*", dirty); }, { "*" }, 0, { "*" }, Log::written,
        "a Windows file name can't hold *" },
    { "NameWithANewline", [] { write_file("da\nta", dirty); }, { "da\nta" }, 0, { "da\nta" }, Log::written,
        "a Windows file name can't hold a line feed" },
    { "NameWithBytesThatAreNotUtf8", [] { write_file("\xff\xfe\x80", dirty); }, { "\xff\xfe\x80" }, 0,
        { "\xff\xfe\x80" }, Log::written, "Wine maps file names through a code page" },
    { "ThroughASymlink", [] { fs::create_symlink("data", "link"); }, { "link" }, 0, { "data" }, Log::written },
};

void PrintTo(CliCase const& row, std::ostream* out) { *out << row.name; }

class Cli : public testing::TestWithParam<CliCase> {};

TEST_P(Cli, ExitStatusOutputAndFiles)
{
    if (windows && GetParam().posix_only != nullptr)
        GTEST_SKIP() << GetParam().posix_only;
    TempDir dir;
    write_file("data", dirty);
    write_file(log_name, earlier_log);
    GetParam().setup();

    ToolResult const result = run_tool(GetParam().args);
    EXPECT_EQ(result.status, GetParam().status);
    EXPECT_EQ(result.out, greeting);
    EXPECT_EQ(result.err, "");

    for (auto const& entry : fs::directory_iterator(dir.path())) {
        // Links name files that are checked under their own names.
        if (entry.is_symlink() || !entry.is_regular_file() || fs::equivalent(entry.path(), log_name))
            continue;
        auto const& cleaned = GetParam().cleaned;
        bool const should_clean = std::ranges::find(cleaned, entry.path().filename().string()) != cleaned.end();
        EXPECT_EQ(show(read_file(entry.path())), show(should_clean ? dirty_cleaned : dirty)) << entry.path();
    }
    switch (GetParam().log) {
    case Log::untouched: EXPECT_EQ(read_file(log_name), earlier_log); break;
    case Log::empty: EXPECT_EQ(read_file(log_name), Bytes {}); break;
    case Log::written: EXPECT_EQ(show(read_file(log_name)), show(dirty_log)); break;
    case Log::the_data: EXPECT_EQ(show(read_file(log_name)), show(dirty_cleaned)); break;
    }
    EXPECT_FALSE(fs::exists("missing"));
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Cli, testing::ValuesIn(cli_cases), [](auto const& info) { return std::string(info.param.name); });

// Root ignores permission bits, so these run the tool as nobody from a copy
// that nobody can reach.
class Unprivileged : public testing::Test {
protected:
    void SetUp() override
    {
        if (windows)
            GTEST_SKIP() << "Windows has no user to drop to, and Wine runs with the test's own";
        fs::permissions(m_dir.path(),
            fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read
                | fs::perms::others_exec);
        fs::copy_file(exe, m_dir / "velmorane");
    }

    ToolResult run_as_nobody(std::string const& data)
    {
        return run_program(m_dir / "velmorane", { data }, { m_dir.path(), true });
    }

    static void give_to_nobody(fs::path const& path)
    {
        if (running_as_root()) {
            ASSERT_EQ(chown(path.c_str(), nobody, nobody), 0);
        }
    }

    TempDir m_dir;
};

TEST_F(Unprivileged, AReadOnlyDataFileIsNotOpened)
{
    give_to_nobody(m_dir.path());
    write_file("data", dirty);
    give_to_nobody("data");
    fs::permissions("data", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    ToolResult const result = run_as_nobody("data");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_file("data"), dirty);
    EXPECT_EQ(read_file(log_name), Bytes {});
}

TEST_F(Unprivileged, AFolderWithoutWriteAccessGetsNoLogButTheFileIsCleaned)
{
    write_file("data", dirty);
    give_to_nobody("data");
    fs::permissions(m_dir.path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
        fs::perm_options::remove);
    ToolResult const result = run_as_nobody("data");
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, greeting);
    EXPECT_EQ(read_file("data"), dirty_cleaned);
    EXPECT_FALSE(fs::exists(log_name));
}

// Starts the suite's hold_file program under the tool's launcher and waits
// until it holds what args name.
std::unique_ptr<RunningProgram> hold_on_windows(std::vector<std::string> const& args)
{
    auto holder
        = std::make_unique<RunningProgram>(windows_helper("hold_file"), args, RunOptions { .launcher = launcher });
    EXPECT_EQ(holder->read_line(), "held");
    return holder;
}

// How another process holds a file: with a lock on the whole file of either
// kind POSIX offers; on Windows both mean an open with share mode 0.
enum class Lock { flock, record_lock };

void PrintTo(Lock lock, std::ostream* out) { *out << (lock == Lock::flock ? "flock" : "record lock"); }

// Holds a file the way another running process would.
class HeldFile {
public:
    HeldFile(char const* path, Lock lock)
    {
        if (windows) {
            m_holder = hold_on_windows({ path });
            return;
        }
        m_fd = open(path, O_RDWR);
        if (lock == Lock::flock) {
            EXPECT_EQ(flock(m_fd, LOCK_EX | LOCK_NB), 0);
        } else {
            struct flock whole_file {};
            whole_file.l_type = F_WRLCK;
            whole_file.l_whence = SEEK_SET;
            EXPECT_EQ(fcntl(m_fd, F_SETLK, &whole_file), 0);
        }
    }
    ~HeldFile()
    {
        if (m_fd >= 0)
            close(m_fd);
    }
    HeldFile(HeldFile const&) = delete;
    HeldFile& operator=(HeldFile const&) = delete;

private:
    int m_fd { -1 };
    std::unique_ptr<RunningProgram> m_holder;
};

class HeldByAnotherProcess : public testing::TestWithParam<Lock> {
protected:
    void SetUp() override
    {
        if (windows && GetParam() == Lock::record_lock)
            GTEST_SKIP() << "Windows holds a file one way, by share mode; the Flock case covers it";
    }

    TempDir m_dir;
};

TEST_P(HeldByAnotherProcess, ALogInUseIsLeftAloneAndTheFileIsCleaned)
{
    write_file("data", dirty);
    write_file(log_name, earlier_log);
    HeldFile const held(log_name, GetParam());
    ToolResult const result = run_tool({ "data" });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file("data"), dirty_cleaned);
    EXPECT_EQ(read_file(log_name), earlier_log);
}

TEST_P(HeldByAnotherProcess, ADataFileInUseIsNotOpened)
{
    write_file("data", dirty);
    HeldFile const held("data", GetParam());
    ToolResult const result = run_tool({ "data" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_file("data"), dirty);
    EXPECT_EQ(read_file(log_name), Bytes {});
}

INSTANTIATE_TEST_SUITE_P(Locks, HeldByAnotherProcess, testing::Values(Lock::flock, Lock::record_lock),
    [](auto const& info) { return std::string(info.param == Lock::flock ? "Flock" : "RecordLock"); });

TEST(OpenElsewhere, ADataFileOpenWithSharingIsNotOpenedEither)
{
    if (!windows)
        GTEST_SKIP() << "POSIX locks are advisory: an open without one holds nothing";
    TempDir dir;
    write_file("data", dirty);
    auto const holder = hold_on_windows({ "--shared", "data" });
    ToolResult const result = run_tool({ "data" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_file("data"), dirty);
    EXPECT_EQ(read_file(log_name), Bytes {});
}

TEST(ChangedByAnotherProcess, AFileBeingAppendedToIsCleanedAsFarAsTheRunReadIt)
{
    if (windows)
        GTEST_SKIP() << "the appender is a POSIX process, which Windows share modes can't see";
    TempDir dir;
    Bytes start;
    Bytes appended;
    for (int i = 0; i < 2000; ++i) {
        Bytes const first = record(static_cast<std::uint8_t>(0xC1 + i % 26));
        Bytes const later = record(static_cast<std::uint8_t>(0xE1 + i % 26));
        start.insert(start.end(), first.begin(), first.end());
        appended.insert(appended.end(), later.begin(), later.end());
    }
    write_file("data", start);

    // The other process appends one record at a time and tells when it has begun.
    int begun[2];
    ASSERT_EQ(pipe(begun), 0);
    pid_t const appender = fork();
    ASSERT_GE(appender, 0);
    if (appender == 0) {
        int const fd = open("data", O_WRONLY | O_APPEND);
        for (std::size_t at = 0; at < appended.size(); at += 128) {
            if (write(fd, appended.data() + at, 128) != 128)
                _exit(1);
            if (at == 0 && write(begun[1], "x", 1) != 1)
                _exit(1);
        }
        _exit(0);
    }
    char byte;
    ASSERT_EQ(read(begun[0], &byte, 1), 1);
    ToolResult const result = run_tool({ "data" });
    int wait_status = 0;
    waitpid(appender, &wait_status, 0);
    close(begun[0]);
    close(begun[1]);
    ASSERT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0);

    EXPECT_EQ(result.status, 0);
    Outcome const outcome { result.status, read_file("data"), read_file(log_name) };
    EXPECT_EQ(broken_promise(start + appended, std::nullopt, outcome), "");
    EXPECT_GT(records_treated(model_run(start + appended), outcome.data), start.size() / 128)
        << "every record there when the run began is cleaned";
}

// Runs the tool on "data" in the current directory after set_up has changed
// its surroundings in the child; its exit status, or -1 when a signal ended it.
int run_in_surroundings(std::function<void()> const& set_up)
{
    pid_t const child = fork();
    if (child == 0) {
        set_up();
        execl(exe.c_str(), exe.c_str(), "data", static_cast<char*>(nullptr));
        _exit(127);
    }
    int wait_status = 0;
    waitpid(child, &wait_status, 0);
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

TEST(Surroundings, AClosedStandardOutputDoesNotStopTheRun)
{
    if (windows)
        GTEST_SKIP() << "a POSIX signal";
    TempDir dir;
    write_file("data", dirty);
    int const status = run_in_surroundings([] {
        int ends[2];
        if (pipe(ends) != 0)
            _exit(126);
        close(ends[0]);
        dup2(ends[1], STDOUT_FILENO);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file("data"), dirty_cleaned);
    EXPECT_EQ(show(read_file(log_name)), show(dirty_log));
}

TEST(Surroundings, AFileSizeLimitEndsThePassWithoutASignal)
{
    if (windows)
        GTEST_SKIP() << "a POSIX signal";
    TempDir dir;
    Bytes const original = repeat(0xC1, 8192);
    write_file("data", original);
    int const status = run_in_surroundings([] {
        rlimit const limit { 4096, 4096 };
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
            _exit(126);
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(read_file("data"), repeat(0x41, 4096) + repeat(0xC1, 4096)) << "written up to the limit only";
}

TEST(RunTwice, TheSecondRunChangesNothingAndReplacesTheLog)
{
    TempDir dir;
    write_file("data", dirty);
    EXPECT_EQ(run_tool({ "data" }).status, 0);
    EXPECT_EQ(run_tool({ "data" }).status, 0);
    EXPECT_EQ(read_file("data"), dirty_cleaned);
    EXPECT_EQ(show(read_file(log_name)), show(text_mode(summary_line(0))));
}

TEST(NotADiskFile, ANamedPipeIsRefused)
{
    if (!windows)
        GTEST_SKIP() << "named pipes are Windows'; the Fifo case covers POSIX";
    TempDir dir;
    std::string const name = dir.path().filename().string();
    auto const pipe = hold_on_windows({ "--pipe", name });
    ToolResult const result = run_tool({ "\\\\.\\pipe\\" + name });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, greeting);
    EXPECT_EQ(read_file(log_name), Bytes {});
}

// What the stream does to the bytes of a line, line feeds above all.
struct LogCase {
    char const* name;
    Bytes record;  // the data file's one record
    Bytes log;  // as handed to the stream, before text mode
};

LogCase const log_cases[] = {
    { "LineFeedInARecord", record(0xC1, { { 10, 0x8A } }),
        record_line(record(0x41, { { 10, '\n' } })) + summary_line(1) },
    { "CarriageReturnAndLineFeedInARecord", record(0xC1, { { 10, '\r' }, { 11, 0x8A } }),
        record_line(record(0x41, { { 10, '\r' }, { 11, '\n' } })) + summary_line(1) },
    { "ZeroCutsTheLine", record(0xC1, { { 5, 0x80 } }), repeat(0x41, 5) + summary_line(1) },
};

void PrintTo(LogCase const& row, std::ostream* out) { *out << row.name; }

class LogText : public testing::TestWithParam<LogCase> {};

TEST_P(LogText, StoredInTextMode)
{
    TempDir dir;
    write_file("data", GetParam().record);
    EXPECT_EQ(run_tool({ "data" }).status, 0);
    EXPECT_EQ(show(read_file(log_name)), show(text_mode(GetParam().log)));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LogText, testing::ValuesIn(log_cases), [](auto const& info) { return std::string(info.param.name); });

TEST(WindowsLog, EveryFullLineTakesARecord)
{
    if (!windows)
        GTEST_SKIP() << "POSIX text mode stores a line feed alone";
    TempDir dir;
    write_file("data", record(0xC1) + record('b') + record(0xE3));
    EXPECT_EQ(run_tool({ "data" }).status, 0);
    Bytes const log = read_file(log_name);
    ASSERT_EQ(log.size(), 3 * 128u);
    for (std::size_t end = 128; end <= log.size(); end += 128) {
        EXPECT_EQ(log[end - 2], '\r') << end;
        EXPECT_EQ(log[end - 1], '\n') << end;
    }
    EXPECT_EQ(std::ranges::count(log, '\n'), 3);
}

TEST(StringTable, OneUsEnglishTableHoldsTheGreeting)
{
    if (!windows)
        GTEST_SKIP() << "only the Windows executable carries resources";
    ToolResult const result = run(windows_helper("list_resources"), { exe.string() });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, text_mode("6 1 1033\nstring 1: Hello from MFC!\n"));
}

}  // namespace
