// CFile's block: reads and writes served from memory must match the file, and
// what reaches the file must be exactly what was written, in few calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/CFile.h"
#include "platform/posix/syscalls.h"
#include "tests/support/bytes.h"
#include "tests/support/file_exception.h"
#include "tests/support/temp_dir.h"

namespace {

using platform::os::g_syscalls;
using platform::os::Syscalls;
using support::Bytes;
using support::read_file;
using support::thrown_os_error;
using support::write_file;

constexpr std::size_t record_size = 128;

// Far enough apart that no block, at most 1 MiB, holds both ends.
constexpr std::size_t far = std::size_t { 1 } << 20;

// Puts a fake in place of one system call for the guard's life.
template <typename Call> class SwappedCall {
public:
    SwappedCall(Call Syscalls::*entry, Call fake)
        : m_entry(entry)
        , m_real(g_syscalls.*entry)
    {
        g_syscalls.*entry = fake;
    }
    ~SwappedCall() { g_syscalls.*m_entry = m_real; }
    SwappedCall(SwappedCall const&) = delete;
    SwappedCall& operator=(SwappedCall const&) = delete;

private:
    Call Syscalls::*m_entry;
    Call m_real;
};

struct Written {
    off_t offset;
    std::size_t size;
    bool operator==(Written const&) const = default;
};

// Every pwrite the file makes while a PwriteLog lives, and whether it fails.
std::vector<Written> s_pwrites;
bool s_pwrite_fails = false;

ssize_t logged_pwrite(int fd, void const* buffer, size_t size, off_t offset)
{
    s_pwrites.push_back({ offset, size });
    if (s_pwrite_fails) {
        errno = EIO;
        return -1;
    }
    return ::pwrite(fd, buffer, size, offset);
}

class PwriteLog {
public:
    explicit PwriteLog(bool fails = false)
    {
        s_pwrites.clear();
        s_pwrite_fails = fails;
    }
    std::vector<Written> const& calls() const { return s_pwrites; }

private:
    SwappedCall<decltype(Syscalls::pwrite)> m_swap { &Syscalls::pwrite, logged_pwrite };
};

ssize_t failing_pread(int, void*, size_t, off_t)
{
    errno = EIO;
    return -1;
}

// Bytes that differ from their neighbours and from their offsets' low bits.
Bytes pattern(std::size_t size, unsigned seed)
{
    Bytes result(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : result) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return result;
}

// Random seeks, reads and writes, checked against the same steps on bytes in
// memory: every read, every position and the file at the end.
TEST(CFileBlock, ReadsAndWritesMatchTheFileAcrossBlocks)
{
    support::TempDir dir;
    Bytes model = pattern(far + 12345, 1);
    write_file("data", model);
    CFile file;
    ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));

    std::mt19937 random(7);
    auto pick = [&](std::size_t limit) { return std::uniform_int_distribution<std::size_t>(0, limit)(random); };
    std::uint64_t position = 0;
    Bytes buffer;
    for (int step = 0; step < 3000; ++step) {
        int const kind = static_cast<int>(pick(9));
        if (kind < 3) {
            // Near the position, record-aligned, far off, or past the end.
            std::size_t const to = kind == 0 ? position + pick(512) - std::min<std::size_t>(position, 256)
                : kind == 1                  ? pick(model.size() / record_size) * record_size
                                             : pick(model.size() + 1000);
            EXPECT_EQ(file.Seek(static_cast<std::int64_t>(to), CFile::begin), to);
            position = to;
        } else if (kind < 7) {
            std::size_t const count = pick(9) == 0 ? pick(3 * far / 2) : pick(3 * record_size);
            buffer.assign(count, 0);
            std::size_t const expected = position >= model.size() ? 0 : std::min(count, model.size() - position);
            ASSERT_EQ(file.Read(buffer.data(), static_cast<unsigned>(count)), expected) << "step " << step;
            ASSERT_TRUE(std::equal(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(expected),
                model.begin() + static_cast<std::ptrdiff_t>(position)))
                << "step " << step;
            position += expected;
        } else {
            std::size_t const count = pick(9) == 0 ? pick(far / 2) : pick(2 * record_size);
            Bytes const data = pattern(count, static_cast<unsigned>(step) + 2);
            file.Write(data.data(), static_cast<unsigned>(count));
            if (position + count > model.size())
                model.resize(position + count, 0);
            std::ranges::copy(data, model.begin() + static_cast<std::ptrdiff_t>(position));
            position += count;
        }
        ASSERT_EQ(file.GetPosition(), position) << "step " << step;
    }
    file.Close();
    EXPECT_TRUE(read_file("data") == model);
}

// The record pass's steps: the position, a read of one record, and for a
// changed record a seek back and a write of it.
void pass_over(CFile& file, std::string const& changed)
{
    std::uint8_t record[record_size];
    for (char const mark : changed) {
        std::uint64_t const position = file.GetPosition();
        ASSERT_EQ(file.Read(record, record_size), record_size);
        if (mark == 'x') {
            record[0] ^= 0x80;
            file.Seek(static_cast<std::int64_t>(position), CFile::begin);
            file.Write(record, record_size);
        }
    }
}

struct CoalesceCase {
    char const* name;
    std::string changed;  // one mark per record: x changed, . not
    std::vector<Written> writes;
};

CoalesceCase const coalesce_cases[] = {
    { "NothingChanged", "................", {} },
    { "EveryRecord", "xxxxxxxxxxxxxxxx", { { 0, 2048 } } },
    { "Runs", "xxx.x.....xxxxxx", { { 0, 384 }, { 512, 128 }, { 1280, 768 } } },
    { "OnlyTheLast", "...............x", { { 1920, 128 } } },
};

void PrintTo(CoalesceCase const& row, std::ostream* out) { *out << row.name; }

class CFileCoalesces : public testing::TestWithParam<CoalesceCase> {};

TEST_P(CFileCoalesces, EachRunOfChangedRecordsInOneWriteAndNothingElse)
{
    support::TempDir dir;
    Bytes const original = pattern(GetParam().changed.size() * record_size, 3);
    write_file("data", original);
    PwriteLog const log;
    CFile file;
    ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));
    pass_over(file, GetParam().changed);
    file.Close();
    EXPECT_EQ(log.calls(), GetParam().writes);

    Bytes expected = original;
    for (std::size_t i = 0; i < GetParam().changed.size(); ++i) {
        if (GetParam().changed[i] == 'x')
            expected[i * record_size] ^= 0x80;
    }
    EXPECT_TRUE(read_file("data") == expected);
}

INSTANTIATE_TEST_SUITE_P(Patterns, CFileCoalesces, testing::ValuesIn(coalesce_cases),
    [](auto const& info) { return std::string(info.param.name); });

TEST(CFileBlock, ALargeRunTakesFewWritesThatCoverItOnce)
{
    support::TempDir dir;
    std::size_t const records = far / record_size + 3;
    write_file("data", pattern(records * record_size, 4));
    PwriteLog const log;
    CFile file;
    ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));
    pass_over(file, std::string(records, 'x'));
    file.Close();

    EXPECT_LE(log.calls().size(), records / 64);
    off_t next = 0;
    for (Written const& write : log.calls()) {
        EXPECT_EQ(write.offset, next) << "in order, without gaps or overlaps";
        next = write.offset + static_cast<off_t>(write.size);
    }
    EXPECT_EQ(next, static_cast<off_t>(records * record_size));
}

// A failing pwrite for bytes that wait in the block: the call that writes
// them out throws and leaves the position where it found it, and the bytes
// are dropped.
struct FlushFailureCase {
    char const* name;
    std::function<void(CFile&)> trigger;
    std::optional<std::uint64_t> position;  // after the failure; none when closed
};

FlushFailureCase const flush_failure_cases[] = {
    { "ReadingFarAway",
        [](CFile& file) {
            std::uint8_t record[record_size];
            file.Seek(far, CFile::begin);
            file.Read(record, record_size);
        },
        far },
    { "ReadingOnPastTheBlock",
        [](CFile& file) {
            Bytes big(far);
            file.Read(big.data(), static_cast<unsigned>(big.size()));
        },
        record_size },
    { "WritingApart",
        [](CFile& file) {
            std::uint8_t const record[record_size] {};
            file.Seek(4 * record_size, CFile::begin);
            file.Write(record, record_size);
        },
        4 * record_size },
    { "WritingFarAway",
        [](CFile& file) {
            std::uint8_t const record[record_size] {};
            file.Seek(far, CFile::begin);
            file.Write(record, record_size);
        },
        far },
    { "Closing", [](CFile& file) { file.Close(); }, std::nullopt },
};

void PrintTo(FlushFailureCase const& row, std::ostream* out) { *out << row.name; }

class CFileFlushFails : public testing::TestWithParam<FlushFailureCase> {};

TEST_P(CFileFlushFails, ThrowsFromTheCallThatWritesOutAndNeverRetries)
{
    support::TempDir dir;
    Bytes const original = pattern(far + far / 2, 5);
    write_file("data", original);
    {
        PwriteLog const log(/* fails */ true);
        CFile file;
        ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));
        pass_over(file, "x");
        ASSERT_EQ(log.calls().size(), 0u) << "the write waits in the block";

        EXPECT_EQ(thrown_os_error([&] { GetParam().trigger(file); }), EIO);
        EXPECT_EQ(log.calls().size(), 1u);
        if (GetParam().position) {
            EXPECT_EQ(file.GetPosition(), *GetParam().position);
            // Reads show what the file holds, not the dropped bytes.
            std::uint8_t record[record_size];
            file.Seek(0, CFile::begin);
            ASSERT_EQ(file.Read(record, record_size), record_size);
            EXPECT_TRUE(std::equal(record, record + record_size, original.begin()));
            file.Close();
        } else {
            EXPECT_EQ(thrown_os_error([&] { file.GetPosition(); }), EBADF) << "closed all the same";
        }
        file.Abort();
        EXPECT_EQ(log.calls().size(), 1u) << "the dropped bytes are not tried again";
    }
    EXPECT_TRUE(read_file("data") == original);
}

INSTANTIATE_TEST_SUITE_P(Calls, CFileFlushFails, testing::ValuesIn(flush_failure_cases),
    [](auto const& info) { return std::string(info.param.name); });

TEST(CFileBlock, PendingBytesReachTheFileBeforeAFailedRead)
{
    support::TempDir dir;
    Bytes const original = pattern(far + far / 2, 6);
    write_file("data", original);
    CFile file;
    ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));
    pass_over(file, "x");

    {
        SwappedCall<decltype(Syscalls::pread)> const swap(&Syscalls::pread, failing_pread);
        std::uint8_t record[record_size];
        file.Seek(far, CFile::begin);
        EXPECT_EQ(thrown_os_error([&] { file.Read(record, record_size); }), EIO);
        EXPECT_EQ(file.GetPosition(), far);
    }
    Bytes expected = original;
    expected[0] ^= 0x80;
    EXPECT_TRUE(read_file("data") == expected) << "written out before the read";
    file.Close();
}

// Reads the real bytes before offset 1000 and fails at and past it, as a
// damaged sector would.
ssize_t pread_failing_at_1000(int fd, void* buffer, size_t size, off_t offset)
{
    if (offset >= 1000) {
        errno = EIO;
        return -1;
    }
    return ::pread(fd, buffer, std::min<size_t>(size, size_t(1000 - offset)), offset);
}

TEST(CFileBlock, AReadFailsWhereTheFileFailsNotBefore)
{
    support::TempDir dir;
    Bytes const original = pattern(4096, 7);
    write_file("data", original);
    CFile file;
    ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));
    std::uint8_t record[record_size];
    {
        SwappedCall<decltype(Syscalls::pread)> const swap(&Syscalls::pread, pread_failing_at_1000);
        for (int i = 0; i < 7; ++i)
            ASSERT_EQ(file.Read(record, record_size), record_size) << "record " << i;
        EXPECT_EQ(thrown_os_error([&] { file.Read(record, record_size); }), EIO) << "a failure is no end of file";
        EXPECT_EQ(file.GetPosition(), 7 * record_size);
    }
    ASSERT_EQ(file.Read(record, record_size), record_size) << "read again once the failure has passed";
    EXPECT_TRUE(Bytes(record, record + record_size) == Bytes(original.begin() + 896, original.begin() + 1024));
    file.Close();
}

struct EndingCase {
    char const* name;
    std::function<void(CFile&)> end;
    bool kept;
};

EndingCase const ending_cases[] = {
    { "Close", [](CFile& file) { file.Close(); }, true },
    { "Release", [](CFile&) {}, true },
    { "Abort", [](CFile& file) { file.Abort(); }, false },
};

void PrintTo(EndingCase const& row, std::ostream* out) { *out << row.name; }

class CFileEnds : public testing::TestWithParam<EndingCase> {};

TEST_P(CFileEnds, WritesOutPendingBytesUnlessAborted)
{
    support::TempDir dir;
    Bytes const original = pattern(4 * record_size, 7);
    write_file("data", original);
    {
        CFile file;
        ASSERT_TRUE(file.Open("data", CFile::modeReadWrite));
        pass_over(file, ".xx.");
        GetParam().end(file);
    }
    Bytes expected = original;
    if (GetParam().kept) {
        expected[record_size] ^= 0x80;
        expected[2 * record_size] ^= 0x80;
    }
    EXPECT_TRUE(read_file("data") == expected);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, CFileEnds, testing::ValuesIn(ending_cases), [](auto const& info) { return std::string(info.param.name); });

}  // namespace
