#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/CFile.h"
#include "platform/CStdioFile.h"
#include "tests/support/bytes.h"
#include "tests/support/failing_call.h"
#include "tests/support/file_exception.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool.h"

namespace {

using support::Bytes;
using support::bytes;
using support::read_file;
using support::write_file;

using support::thrown_os_error;

struct RefusedCase {
    char const* name;
    std::function<std::string()> make;  // makes the thing in the current directory, returns its path
};

RefusedCase const refused_cases[] = {
    { "Missing", [] { return "missing.txt"; } },
    { "EmptyPath", [] { return ""; } },
    { "Directory",
        [] {
            mkdir("dir", 0755);
            return "dir";
        } },
    { "SymlinkToDirectory",
        [] {
            mkdir("dir", 0755);
            symlink("dir", "link");
            return "link";
        } },
    { "DanglingSymlink",
        [] {
            symlink("nowhere", "link");
            return "link";
        } },
    { "Fifo",
        [] {
            mkfifo("fifo", 0644);
            return "fifo";
        } },
    { "CharacterDevice", [] { return "/dev/null"; } },
    { "Socket",
        [] {
            int const fd = socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            std::string name = "sock";
            name.copy(address.sun_path, name.size());
            EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << "no socket to refuse";
            return name;
        } },
};

void PrintTo(RefusedCase const& row, std::ostream* out) { *out << row.name; }

class CFileOpenRefuses : public testing::TestWithParam<RefusedCase> {};

TEST_P(CFileOpenRefuses, ReturnsFalseWithoutCreatingAnything)
{
    support::TempDir dir;
    std::string const path = GetParam().make();
    CFile file;
    CFileException error(CFileException::none, 0);
    {
        support::CallLog const calls;
        EXPECT_FALSE(file.Open(path.c_str(), CFile::modeReadWrite, &error));
        // Opening a device can act on it, so it is refused by its name.
        for (auto const& call : calls.calls())
            EXPECT_NE(call.entry, support::Entry::open) << "opened " << call.path;
    }
    EXPECT_NE(error.m_lOsError, 0);
    EXPECT_FALSE(std::filesystem::exists("missing.txt"));
    EXPECT_NE(thrown_os_error([&] { file.GetPosition(); }), 0) << "a refused file stays closed";
}

INSTANTIATE_TEST_SUITE_P(Cases, CFileOpenRefuses, testing::ValuesIn(refused_cases),
    [](auto const& info) { return std::string(info.param.name); });

TEST(CFileOpen, RefusesAFileThatAnotherOpenHolds)
{
    support::TempDir dir;
    write_file("data", bytes("abc"));
    CFile first;
    ASSERT_TRUE(first.Open("data", CFile::modeReadWrite));
    CFile second;
    EXPECT_FALSE(second.Open("data", CFile::modeReadWrite));
    CStdioFile log;
    EXPECT_FALSE(log.Open("data", CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_EQ(read_file("data"), bytes("abc")) << "a held file is never emptied";

    first.Close();
    EXPECT_TRUE(second.Open("data", CFile::modeReadWrite)) << "closing releases the file";
}

TEST(CFileOpen, ReleasingAnOpenFileClosesIt)
{
    support::TempDir dir;
    write_file("data", bytes("abc"));
    {
        CFile first;
        ASSERT_TRUE(first.Open("data", CFile::modeReadWrite));
    }
    CFile second;
    EXPECT_TRUE(second.Open("data", CFile::modeReadWrite));
}

TEST(CFileOpen, RetriesEveryCallThatASignalInterrupts)
{
    for (unsigned const flags : { unsigned(CFile::modeReadWrite), CFile::modeCreate | CFile::modeReadWrite }) {
        for (int call = 1;; ++call) {
            support::TempDir dir;
            write_file("data", bytes("abc"));
            CFile file;
            support::FailingCall const guard(support::any_call, call, EINTR);
            bool const opened = file.Open("data", flags);
            if (!guard.fired())
                break;
            EXPECT_TRUE(opened) << "flags " << flags << ", interrupted "
                                << support::entry_name(guard.calls().at(std::size_t(call) - 1).entry);
        }
    }
}

TEST(CFileOpen, MakesDoWithFlockWhereRecordLocksOnOpenFilesAreUnknown)
{
    support::TempDir dir;
    write_file("data", bytes("abc"));
    CFile file;
    {
        support::FailingCall const guard(&support::Syscalls::fcntl, 1, EINVAL);
        EXPECT_TRUE(file.Open("data", CFile::modeReadWrite));
        EXPECT_TRUE(guard.fired());
    }
    CFile second;
    EXPECT_FALSE(second.Open("data", CFile::modeReadWrite)) << "still held";
}

TEST(CFileOpen, RefusesAReadOnlyFile)
{
    support::TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
    write_file("data", bytes("abc"));
    chmod("data", 0444);
    int const opened = support::run_unprivileged([] {
        CFile file;
        return file.Open("data", CFile::modeReadWrite) ? 1 : 0;
    });
    EXPECT_EQ(opened, 0);
}

TEST(CFileOpen, RefusesModesItDoesNotOffer)
{
    support::TempDir dir;
    write_file("data", bytes("abc"));
    CFile file;
    EXPECT_FALSE(file.Open("data", 0));
    EXPECT_FALSE(file.Open("data", CFile::modeReadWrite | CFile::typeText));
    EXPECT_FALSE(file.Open("data", CFile::modeReadWrite | 0x0040));
}

TEST(CFile, ReadsSeeksAndWritesInPlace)
{
    support::TempDir dir;
    write_file("data", bytes("0123456789"));
    CFile file;
    ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));
    char buffer[8] {};
    EXPECT_EQ(file.GetPosition(), 0u);
    EXPECT_EQ(file.Read(buffer, 4), 4u);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(file.GetPosition(), 4u);
    EXPECT_EQ(file.Seek(2, CFile::begin), 2u);
    file.Write("ab", 2);
    EXPECT_EQ(file.GetPosition(), 4u);
    EXPECT_EQ(file.Seek(-1, CFile::current), 3u);
    EXPECT_EQ(file.Read(buffer, 8), 7u) << "a short read only at the end";
    EXPECT_EQ(file.Read(buffer, 8), 0u);
    file.Close();
    EXPECT_EQ(read_file("data"), bytes("01ab456789"));
}

TEST(CFile, ThrowsForABadSeekAndKeepsItsPosition)
{
    support::TempDir dir;
    write_file("data", bytes("0123"));
    CFile file;
    ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));
    EXPECT_EQ(thrown_os_error([&] { file.Seek(-1, CFile::begin); }), EINVAL);
    EXPECT_EQ(thrown_os_error([&] { file.Seek(0, CFile::end); }), EINVAL);
    EXPECT_EQ(file.GetPosition(), 0u);
}

TEST(CFile, EveryOperationOnAClosedFileThrows)
{
    CFile file;
    char buffer[4] {};
    EXPECT_EQ(thrown_os_error([&] { file.GetPosition(); }), EBADF);
    EXPECT_EQ(thrown_os_error([&] { file.Read(buffer, 4); }), EBADF);
    EXPECT_EQ(thrown_os_error([&] { file.Seek(0, CFile::begin); }), EBADF);
    EXPECT_EQ(thrown_os_error([&] { file.Write(buffer, 4); }), EBADF);
    EXPECT_EQ(thrown_os_error([&] { file.Close(); }), EBADF);
    file.Abort();
    file.Abort();
}

TEST(CStdioFile, CreatesOrEmptiesAndWritesUpToTheFirstZeroByte)
{
    support::TempDir dir;
    write_file("log", bytes("an earlier run's content"));
    CStdioFile log;
    ASSERT_TRUE(log.Open("log", CFile::modeCreate | CFile::modeReadWrite));
    EXPECT_EQ(read_file("log"), Bytes {}) << "emptied at the open";
    log.WriteString("one\ntwo\0three");
    log.WriteString("");
    log.WriteString("\n");
    log.Close();
    EXPECT_EQ(read_file("log"), bytes("one\ntwo\n"));
}

TEST(CStdioFile, KeepsTheOrderOfTextLargerThanItsBuffer)
{
    support::TempDir dir;
    std::string expected;
    {
        CStdioFile log;
        ASSERT_TRUE(log.Open("log", CFile::modeCreate | CFile::modeReadWrite));
        for (int line = 0; line < 5000; ++line) {
            std::string const text = std::to_string(line) + std::string(line % 97, 'x') + "\n";
            log.WriteString(text.c_str());
            expected += text;
        }
        // Released without Close: the release writes out what is left.
    }
    EXPECT_EQ(read_file("log"), bytes(expected));
}

TEST(CStdioFile, AFailedWriteOutLosesAndRepeatsNothing)
{
    support::TempDir dir;
    CStdioFile log;
    ASSERT_TRUE(log.Open("log", CFile::modeCreate | CFile::modeReadWrite));
    std::string expected;
    long error = 0;
    {
        support::FailingCall const guard(&support::Syscalls::write, 1, EIO);
        for (int line = 0; error == 0; ++line) {
            std::string const text = std::to_string(line) + std::string(100, 'x') + "\n";
            try {
                log.WriteString(text.c_str());
                expected += text;
            } catch (CFileException* e) {
                error = e->m_lOsError;
                e->Delete();
            }
        }
    }
    EXPECT_EQ(error, EIO);
    log.WriteString("last\n");
    log.Close();
    EXPECT_EQ(read_file("log"), bytes(expected + "last\n")) << "the failed text is left out, and only it";
}

TEST(CStdioFile, AbortDropsWhatIsBuffered)
{
    support::TempDir dir;
    CStdioFile log;
    ASSERT_TRUE(log.Open("log", CFile::modeCreate | CFile::modeReadWrite));
    log.WriteString("dropped");
    log.Abort();
    log.Abort();
    EXPECT_EQ(read_file("log"), Bytes {});
    EXPECT_EQ(thrown_os_error([&] { log.WriteString("x"); }), EBADF);
}

}  // namespace
