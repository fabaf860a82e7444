// Every system call of a run failing in turn: whatever fails, the data file
// keeps every byte either as it was or with bit 7 cleared, and the run ends
// with a defined status and a well-formed log.
#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <sys/file.h>
#include <tuple>
#include <unistd.h>
#include <vector>

#include "platform/CWinApp.h"
#include "tests/support/bytes.h"
#include "tests/support/clean_model.h"
#include "tests/support/failing_call.h"
#include "tests/support/in_process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace support;
namespace fs = std::filesystem;

char const* const log_name = "Velmorane.Log";
Bytes const earlier_log = bytes("an earlier run's log\n");

Bytes dirty_records(int count)
{
    Bytes data;
    for (int i = 0; i < count; ++i)
        data = data + record(static_cast<std::uint8_t>(0xC1 + i % 26), { { 1, 'a' } });
    return data;
}

// Over a block of records, each seventh one clean, so that write-backs come
// in runs and a block's write-back fails after its records have lines.
Bytes several_blocks()
{
    Bytes data;
    for (int i = 0; i < 620; ++i) {
        Bytes const one = i % 7 == 6 ? record('c') : record(static_cast<std::uint8_t>(0xC1 + i % 26), { { 1, 'a' } });
        data.insert(data.end(), one.begin(), one.end());
    }
    return data;
}

struct Fixture {
    char const* name;
    Bytes data;
};

Fixture const fixtures[] = {
    { "Empty", {} },
    { "Clean", record('a') + record('b') + bytes("tail") },
    { "AllDirty", dirty_records(40) },
    // More records than one block of the data file holds, and more log than
    // one buffer of the log: write-backs and log write-outs in turn.
    { "SeveralBlocks", several_blocks() },
    { "StopAtTheMarker", record(0xC1) + record('b') + record(0x1A, { { 5, 0xC2 } }) + record(0xC3) },
    { "DirtyTail", record(0xC1) + record(0xE2) + repeat(0xFF, 100) },
    { "CleanedIntoTheMarker", record(0xC1, { { 0, 0x9A } }) + record(0xC2) + record(0x1A) },
    { "LinesCutByZeros", record(0x80) + record('a', { { 0, 0xE1 }, { 10, 0x80 } }) + record('a', { { 5, 0x8A } }) },
};

void PrintTo(Fixture const& fixture, std::ostream* out) { *out << fixture.name; }

enum class LogSetup { usable, held };

struct Kind {
    char const* name;
    int error;
    FailingCall::Repeat repeat;
};

Kind const kinds[] = {
    { "EIO", EIO, FailingCall::once },
    { "ENOSPC", ENOSPC, FailingCall::once },
    { "EIO from then on", EIO, FailingCall::from_then_on },
    { "EINTR", EINTR, FailingCall::once },
    { "a short transfer", FailingCall::short_transfer, FailingCall::once },
};

bool retried(Kind const& kind) { return kind.error == EINTR || kind.error == FailingCall::short_transfer; }

std::size_t open_descriptors()
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

// Where the calls of the run without failures fall.
struct Phases {
    std::size_t data_open { 0 };  // the data file's open and the calls that complete it
    std::size_t data_opened { 0 };
    std::size_t data_close { 0 };
    int data_fd { -1 };
    int log_fd { -1 };
};

Phases phases_of(std::vector<Call> const& calls)
{
    Phases phases;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        Call const& call = calls[i];
        if (call.entry == Entry::stat && call.path == "data") {
            phases.data_open = i;
        } else if (call.entry == Entry::open && call.path == "data") {
            phases.data_fd = call.fd;
        } else if (call.entry == Entry::open && call.path == log_name) {
            phases.log_fd = call.fd;
        } else if (call.fd == phases.data_fd && phases.data_opened == 0
            && (call.entry == Entry::pread || call.entry == Entry::pwrite || call.entry == Entry::close)) {
            phases.data_opened = i;
        }
        if (call.entry == Entry::close && call.fd == phases.data_fd)
            phases.data_close = i;
    }
    return phases;
}

class IoFailure : public testing::TestWithParam<std::tuple<Fixture, LogSetup>> {
protected:
    void SetUp() override
    {
        write_file(log_name, earlier_log);
        if (std::get<LogSetup>(GetParam()) == LogSetup::held) {
            m_held = open(log_name, O_RDWR | O_CLOEXEC);
            ASSERT_EQ(flock(m_held, LOCK_EX | LOCK_NB), 0);
        }
        // The command line is read once per process; read it before counting.
        platform::GetCommandLineA();
    }

    void TearDown() override
    {
        if (m_held >= 0)
            close(m_held);
    }

    Outcome run()
    {
        // New files rather than emptied ones, which the file system may flush.
        fs::remove("data");
        write_file("data", original());
        if (m_held < 0) {
            fs::remove(log_name);
            write_file(log_name, earlier_log);
        }
        std::size_t const descriptors = open_descriptors();
        RunResult const result = run_in_process({ "data" });
        EXPECT_EQ(result.out, "Hello from MFC!\n");
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(open_descriptors(), descriptors) << "a descriptor leaked";
        Outcome outcome { result.status, read_file("data"), std::nullopt };
        if (fs::exists(log_name))
            outcome.log = read_file(log_name);
        return outcome;
    }

    Bytes const& original() const { return std::get<Fixture>(GetParam()).data; }

    CWinApp m_app { nullptr };
    TempDir m_dir;
    int m_held { -1 };
};

TEST_P(IoFailure, EveryCallFailingInTurnKeepsEveryByte)
{
    bool const log_usable = std::get<LogSetup>(GetParam()) == LogSetup::usable;
    ModelRun const model = model_run(original());
    Bytes const expected_log = log_usable ? model.log() : earlier_log;

    std::vector<Call> calls;
    {
        CallLog const log;
        Outcome const outcome = run();
        calls = log.calls();
        ASSERT_EQ(outcome.status, 0);
        ASSERT_EQ(show(outcome.data), show(model.data));
        ASSERT_EQ(show(outcome.log.value_or(Bytes {})), show(expected_log));
    }
    Phases const phases = phases_of(calls);
    ASSERT_LT(phases.data_open, phases.data_opened);
    ASSERT_LE(phases.data_opened, phases.data_close);

    int tried = 0;
    for (std::size_t index = 0; index < calls.size(); ++index) {
        Call const& call = calls[index];
        for (Kind const& kind : kinds) {
            Outcome outcome;
            bool fired = false;
            {
                FailingCall const guard(any_call, static_cast<int>(index + 1), kind.error, kind.repeat);
                outcome = run();
                fired = guard.fired();
            }
            if (!fired) {
                EXPECT_TRUE(kind.error == FailingCall::short_transfer) << "call " << index + 1 << " never came";
                continue;
            }
            ++tried;
            SCOPED_TRACE(testing::Message() << "call " << index + 1 << " of " << calls.size() << " ("
                                            << entry_name(call.entry) << ") fails with " << kind.name);

            EXPECT_EQ(broken_promise(original(), earlier_log, outcome), "");
            if (retried(kind)) {
                // Retried and completed by the class library: nothing shows.
                EXPECT_EQ(outcome.status, 0);
                EXPECT_EQ(show(outcome.data), show(model.data));
                EXPECT_EQ(show(outcome.log.value_or(Bytes {})), show(expected_log));
                continue;
            }

            bool const once = kind.repeat == FailingCall::once;
            bool const in_data_open = index >= phases.data_open && index < phases.data_opened;
            bool const before_data_open = index < phases.data_open;
            bool const data_unopened = in_data_open || (!once && before_data_open);
            EXPECT_EQ(outcome.status, data_unopened ? 1 : 0);
            if (data_unopened) {
                EXPECT_EQ(show(outcome.data), show(original()));
            }
            if ((once && before_data_open) || index >= phases.data_close) {
                EXPECT_EQ(show(outcome.data), show(model.data)) << "the pass was not disturbed";
            }
            if (once && call.entry == Entry::pread && call.fd == phases.data_fd) {
                std::size_t const before = std::min(static_cast<std::size_t>(call.offset), model.stop) / 128;
                EXPECT_GE(records_treated(model, outcome.data), before) << "records before the failed read";
            }

            // The log's own calls aside, a run whose data file opened ends its log with the summary line.
            bool const on_the_log = call.fd == phases.log_fd || (once && before_data_open);
            if (!log_usable || before_data_open) {
                EXPECT_EQ(show(outcome.log.value_or(Bytes {})), show(earlier_log));
            } else if (data_unopened) {
                EXPECT_EQ(show(outcome.log.value_or(earlier_log)), "");
            } else if (once && !on_the_log) {
                auto const shape = log_shape(model, outcome.log.value_or(Bytes {}));
                ASSERT_TRUE(shape.has_value());
                EXPECT_TRUE(shape->summary.has_value()) << show(*outcome.log);
            }
        }
    }
    RecordProperty("calls", static_cast<int>(calls.size()));
    RecordProperty("runs_with_a_failure", tried);
    EXPECT_GT(tried, 0);
}

std::string case_name(testing::TestParamInfo<std::tuple<Fixture, LogSetup>> const& info)
{
    return std::string(std::get<Fixture>(info.param).name)
        + (std::get<LogSetup>(info.param) == LogSetup::usable ? "WithALog" : "WithAHeldLog");
}

INSTANTIATE_TEST_SUITE_P(Files, IoFailure,
    testing::Combine(testing::ValuesIn(fixtures), testing::Values(LogSetup::usable, LogSetup::held)), case_name);

}  // namespace
