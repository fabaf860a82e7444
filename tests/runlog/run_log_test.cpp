#include <gtest/gtest.h>

#include <string>

#include "platform/CWinApp.h"
#include "runlog/run_log.h"
#include "tests/support/bytes.h"
#include "tests/support/in_process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace support;

struct LogCase {
    char const* name;
    Bytes data;
    Bytes expected_log;
};

Bytes many_dirty_records(int count)
{
    Bytes data;
    for (int i = 0; i < count; ++i)
        data = data + record(static_cast<std::uint8_t>(0xC1 + i % 26));
    return data;
}

Bytes lines_of(Bytes const& data)
{
    Bytes lines;
    for (std::size_t at = 0; at + 128 <= data.size(); at += 128)
        lines = lines
            + record_line(
                cleaned(Bytes(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at) + 128)));
    return lines;
}

LogCase const log_cases[] = {
    { "NoChange", record('a') + repeat(0xFF, 5), summary_line(0) },
    { "EmptyFile", {}, summary_line(0) },
    { "OneRecord", record(0xC1), record_line(record('A')) + summary_line(1) },
    { "TwoRecords", record(0xC1) + record('b') + record(0xC3),
        record_line(record('A')) + record_line(record('C')) + summary_line(2) },
    { "ManyRecords", many_dirty_records(345), lines_of(many_dirty_records(345)) + summary_line(345) },
    { "LineHoldsOnlyTheFirst126Bytes", record('a', { { 0, 0xE2 }, { 125, 0xE3 }, { 126, 'y' }, { 127, 'z' } }),
        record_line(record('a', { { 0, 'b' }, { 125, 'c' } })) + summary_line(1) },
    { "ChangeOnlyInByte126", record('a', { { 126, 0xE1 } }), record_line(record('a')) + summary_line(1) },
    { "ChangeOnlyInByte127", record('a', { { 127, 0xE1 } }), record_line(record('a')) + summary_line(1) },
    { "ZeroAtByte0WritesNothing", record(0x80) + record(0xC1), record_line(record('A')) + summary_line(2) },
    { "ZeroInTheMiddleCutsTheLine", record('a', { { 0, 0xE1 }, { 10, 0x80 } }), repeat('a', 10) + summary_line(1) },
    { "ZeroOnlyInBytes126And127", record('a', { { 0, 0xE1 }, { 126, 0x80 }, { 127, 0x80 } }),
        record_line(record('a')) + summary_line(1) },
    { "LineFeedInsideARecord", record('a', { { 0, 0xE1 }, { 5, 0x8A } }),
        record_line(record('a', { { 5, '\n' } })) + summary_line(1) },
    { "CleanedMarkerStartsTheLine", record('a', { { 0, 0x9A } }),
        record_line(record('a', { { 0, 0x1A } })) + summary_line(1) },
};

void PrintTo(LogCase const& row, std::ostream* out) { *out << row.name; }

class RunLog : public testing::TestWithParam<LogCase> {
protected:
    CWinApp m_app { nullptr };
};

TEST_P(RunLog, HoldsALineForEachChangedRecordAndTheSummary)
{
    TempDir dir;
    write_file("data", GetParam().data);
    write_file(runlog::log_name, bytes("an earlier run's log\n"));
    RunResult const result = run_in_process({ "data" });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(show(read_file(runlog::log_name)), show(GetParam().expected_log));
}

INSTANTIATE_TEST_SUITE_P(
    Files, RunLog, testing::ValuesIn(log_cases), [](auto const& info) { return std::string(info.param.name); });

TEST(SummaryLine, IsAlways126CharactersAndALineFeed)
{
    for (long long const count : { 0LL, 1LL, 2LL, 345LL, 2147483647LL, 9223372036854775807LL }) {
        TempDir dir;
        CStdioFile log;
        ASSERT_TRUE(runlog::open_run_log(log));
        runlog::LineBuffer buffer;
        runlog::finish_run_log(log, buffer, count);
        EXPECT_EQ(show(read_file(runlog::log_name)), show(summary_line(count)));
    }
}

}  // namespace
