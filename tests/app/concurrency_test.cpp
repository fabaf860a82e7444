// Two runs at once, without a race: the first runs in this process, and the
// second, the built executable, runs while the first stands just before it
// closes one of its files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/CWinApp.h"
#include "tests/support/bytes.h"
#include "tests/support/clean_model.h"
#include "tests/support/failing_call.h"
#include "tests/support/in_process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool.h"

namespace {

using namespace support;
namespace fs = std::filesystem;

char const* const log_name = "Velmorane.Log";

// Enough changed records that the log holds more than one write-out.
Bytes many_dirty_records()
{
    Bytes data;
    for (int i = 0; i < 100; ++i) {
        Bytes const one = record(static_cast<std::uint8_t>(0xC1 + i % 26));
        data.insert(data.end(), one.begin(), one.end());
    }
    return data;
}

class TwoRunsAtOnce : public testing::Test {
protected:
    CWinApp m_app { nullptr };
    TempDir m_dir;
};

TEST_F(TwoRunsAtOnce, InOneFolderTheSecondRunsWithoutTheLogAndLeavesItAlone)
{
    Bytes const first = many_dirty_records();
    Bytes const second = record(0xC1) + record('b') + record(0xE3);
    write_file("first", first);
    write_file("second", second);

    // Just before the first run closes its log, every line of it is written.
    Bytes log_before;
    Bytes log_after;
    ToolResult second_run;
    {
        CallHook const hook([](auto const& calls) { return closing(calls, log_name); },
            [&] {
                log_before = read_file(log_name);
                second_run = run_program(VELMORANE_EXE, { "second" });
                log_after = read_file(log_name);
            });
        EXPECT_EQ(run_in_process({ "first" }).status, 0);
        ASSERT_TRUE(hook.fired());
    }
    EXPECT_EQ(second_run.status, 0);
    EXPECT_EQ(read_file("second"), cleaned(second)) << "the second run cleans its file all the same";
    EXPECT_EQ(show(log_before), show(model_run(first).log()));
    EXPECT_EQ(show(log_after), show(log_before)) << "the second run leaves the log alone";
    EXPECT_EQ(read_file("first"), cleaned(first));
    EXPECT_EQ(show(read_file(log_name)), show(model_run(first).log()));
}

TEST_F(TwoRunsAtOnce, OnOneDataFileTheSecondFailsAndChangesNothing)
{
    Bytes const data = many_dirty_records();
    write_file("data", data);
    fs::create_directory("elsewhere");

    // Just before the first run closes the data file, all of it is cleaned.
    Bytes data_before;
    Bytes data_after;
    ToolResult second_run;
    {
        CallHook const hook([](auto const& calls) { return closing(calls, "data"); },
            [&] {
                data_before = read_file("data");
                second_run = run_program(VELMORANE_EXE, { "../data" }, { m_dir / "elsewhere" });
                data_after = read_file("data");
            });
        EXPECT_EQ(run_in_process({ "data" }).status, 0);
        ASSERT_TRUE(hook.fired());
    }
    EXPECT_EQ(second_run.status, 1);
    EXPECT_EQ(second_run.out, "Hello from MFC!\n");
    EXPECT_TRUE(data_before == cleaned(data));
    EXPECT_TRUE(data_after == data_before) << "the second run changes nothing";
    EXPECT_EQ(read_file("elsewhere/Velmorane.Log"), Bytes {});
    EXPECT_EQ(read_file("data"), cleaned(data));
    EXPECT_EQ(show(read_file(log_name)), show(model_run(data).log()));
}

}  // namespace
