// The built executable, run as a user would run it.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "tests/app/tool_under_test.h"
#include "tests/support/bytes.h"
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

enum class Log { untouched, empty, written };

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
    { "TheLogItself", none, { log_name }, 1, {}, Log::empty },
    { "TheLogThroughASymlink", [] { fs::create_symlink(log_name, "link"); }, { "link" }, 1, {}, Log::empty },
    { "TheLogThroughAHardLink", [] { fs::create_hard_link(log_name, "link"); }, { "link" }, 1, {}, Log::empty },
    { "WildcardIsLiteral", none, { "*" }, 1, {}, Log::empty },
    { "Cleaned", none, { "data" }, 0, { "data" }, Log::written },
    { "SurroundingWhiteSpace", none, { " \t data \r\n" }, 0, { "data" }, Log::written },
    { "InnerWhiteSpaceStays", [] { write_file("my  data", dirty); }, { "  my  data\t" }, 0, { "my  data" },
        Log::written },
    { "OnlyTheFirstArgument", [] { write_file("other", dirty); }, { "data", "other" }, 0, { "data" }, Log::written },
    { "FileNamedWithAWildcard", [] { write_file("*", dirty); }, { "*" }, 0, { "*" }, Log::written,
        "a Windows file name can't hold *" },
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

// Holds a file the way another running process would: on Windows with share
// mode 0, elsewhere with an exclusive flock.
class HeldFile {
public:
    explicit HeldFile(char const* path)
    {
        if (windows) {
            m_holder = hold_on_windows({ path });
        } else {
            m_fd = open(path, O_RDWR);
            EXPECT_EQ(flock(m_fd, LOCK_EX | LOCK_NB), 0);
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

TEST(HeldByAnotherProcess, ALogInUseIsLeftAloneAndTheFileIsCleaned)
{
    TempDir dir;
    write_file("data", dirty);
    write_file(log_name, earlier_log);
    HeldFile const held(log_name);
    ToolResult const result = run_tool({ "data" });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(read_file("data"), dirty_cleaned);
    EXPECT_EQ(read_file(log_name), earlier_log);
}

TEST(HeldByAnotherProcess, ADataFileInUseIsNotOpened)
{
    TempDir dir;
    write_file("data", dirty);
    HeldFile const held("data");
    ToolResult const result = run_tool({ "data" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(read_file("data"), dirty);
    EXPECT_EQ(read_file(log_name), Bytes {});
}

TEST(HeldByAnotherProcess, ADataFileOpenElsewhereIsNotOpenedEvenWhenShared)
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
