// The tool killed at random moments of its run and run again: each killed run
// leaves only whole records cleaned, and the run that completes leaves the
// file as one run without interruptions does.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <optional>
#include <random>
#include <thread>

#include "tests/support/bytes.h"
#include "tests/support/clean_model.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tool.h"

namespace {

using namespace support;
namespace fs = std::filesystem;

char const* const log_name = "Velmorane.Log";

// Records of random bytes, none beginning with 0x9A, whose cleaning would move
// the stop of a later run, then a record beginning with the marker, a record
// after it and a tail.
Bytes large_file(std::mt19937& random, std::size_t records)
{
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes data(records * 128);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(byte(random));
        if (i % 128 == 0 && (data[i] & 0x7F) == 0x1A)
            data[i] = 'a';
    }
    return data + record(0x1A, { { 3, 0xC1 } }) + record(0xC2) + repeat(0xFF, 77);
}

std::optional<Bytes> read_log()
{
    if (!fs::exists(log_name))
        return std::nullopt;
    return read_file(log_name);
}

TEST(Crash, KilledAtRandomMomentsThenRunToTheEndEqualsOneRun)
{
    constexpr int rounds = 25;
    constexpr int kills_per_round = 2;
    TempDir dir;
    std::mt19937 random(4242);
    Bytes const original = large_file(random, 8192);

    // One run without interruptions, in a folder of its own, and one on an
    // empty file, which takes the time of everything but the cleaning.
    auto const timed_run = [&](char const* folder, Bytes const& data) {
        fs::create_directory(folder);
        write_file(dir / folder / "data", data);
        auto const started = std::chrono::steady_clock::now();
        EXPECT_EQ(run_program(VELMORANE_EXE, { "data" }, { dir / folder }).status, 0);
        return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
    };
    auto const one_run = timed_run("reference", original);
    auto const start_up = timed_run("empty", {});
    Bytes const reference = read_file("reference/data");
    ASSERT_TRUE(reference == model_run(original).data);

    // Rounds of kills, each from the original file. The kills of a round are
    // spread over the time of one run from halfway through its start-up, so
    // most land while it cleans; a run that ended before its kill bounds the
    // time of those after it, which find less to clean. The run after the
    // last kill of a round goes to its end.
    int killed = 0;
    int killed_having_cleaned = 0;
    for (int round = 0; round < rounds; ++round) {
        write_file("data", original);
        auto longest = one_run;
        for (int kill = 0; kill < kills_per_round; ++kill) {
            Bytes const before = read_file("data");
            std::optional<Bytes> const log_before = read_log();
            StartedProgram tool(VELMORANE_EXE, { "data" });
            std::chrono::microseconds const wait(std::uniform_int_distribution<long long>(
                std::min(start_up.count() / 2, longest.count()), longest.count())(random));
            std::this_thread::sleep_for(wait);
            tool.kill(SIGKILL);
            int const status = tool.wait();
            Outcome outcome { status == -1 ? 0 : status, read_file("data"), read_log() };
            if (status == -1) {
                // A kill may cut the log anywhere, even inside a write.
                Bytes const log = outcome.log.value_or(Bytes {});
                Bytes const full_log = model_run(before).log();
                bool const started_the_log
                    = log.size() <= full_log.size() && std::equal(log.begin(), log.end(), full_log.begin());
                EXPECT_TRUE(log == log_before || started_the_log)
                    << "round " << round << ", kill " << kill << ": the log is not the start of the run's log";
                outcome.log = std::nullopt;
            }
            ASSERT_EQ(broken_promise(before, status == -1 ? std::nullopt : log_before, outcome), "")
                << "round " << round << ", kill " << kill;
            if (status == -1) {
                ++killed;
                killed_having_cleaned += outcome.data != before ? 1 : 0;
            } else {
                longest = wait;
            }
        }

        Bytes const before_last = read_file("data");
        ToolResult const last = run_program(VELMORANE_EXE, { "data" });
        EXPECT_EQ(last.status, 0);
        EXPECT_TRUE(read_file("data") == reference) << "round " << round << ": the file differs from one run's";
        EXPECT_TRUE(read_file(log_name) == model_run(before_last).log())
            << "round " << round << ": the last run logs what it changed";
    }
    RecordProperty("killed_while_running", killed);
    RecordProperty("killed_having_cleaned", killed_having_cleaned);
    RecordProperty("one_run_microseconds", static_cast<int>(one_run.count()));
    RecordProperty("start_up_microseconds", static_cast<int>(start_up.count()));
    EXPECT_GT(killed_having_cleaned, 0);
}

}  // namespace
