// Fuzzes the record pass and the run log: the whole tool runs in this process
// on a data file of the fuzzer's bytes, perhaps with one system call failing,
// and must leave what it promises.
//
// An input of two bytes or more starts with the fault: byte 0 picks the kind
// of call and how it fails (0 for no fault), byte 1 which call of that kind,
// counted from 0. The rest, or a shorter input whole, is the data file.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

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

CWinApp s_app(nullptr);

struct Fault {
    int error;
    FailingCall::Repeat repeat;
};

constexpr Fault faults[] = {
    { EIO, FailingCall::once },
    { ENOSPC, FailingCall::once },
    { EIO, FailingCall::from_then_on },
    { EINTR, FailingCall::once },
    { FailingCall::short_transfer, FailingCall::once },
};

[[noreturn]] void broken(std::string const& what)
{
    std::fprintf(stderr, "broken promise: %s\n", what.c_str());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* input, std::size_t size)
{
    // The run works in a folder of its own; between runs the fuzzer finds its
    // inputs and leaves what it finds where it was started.
    static fs::path const s_home = fs::current_path();
    static TempDir const s_dir;
    // The command line is read once per process: read it before calls count.
    [[maybe_unused]] static char const* const s_command_line = platform::GetCommandLineA();
    fs::current_path(s_dir.path());

    // The entries up to close, so the corpus keeps its meaning; a failing
    // stat, which only refuses an open, is left to the exhaustive test.
    constexpr int entries = static_cast<int>(Entry::close) + 1;
    std::optional<Entry> entry;
    int call = 0;
    Fault fault = faults[0];
    if (size >= 2) {
        if (input[0] != 0) {
            entry = static_cast<Entry>(input[0] % entries);
            fault = faults[input[0] / entries % std::size(faults)];
            call = input[1] + 1;
        }
        input += 2;
        size -= 2;
    }
    Bytes const original(input, input + size);
    fs::remove(log_name);
    fs::remove("data");
    write_file("data", original);

    RunResult result;
    bool fired = false;
    if (!entry) {
        result = run_in_process({ "data" });
    } else {
        FailingCall const guard(*entry, call, fault.error, fault.repeat);
        result = run_in_process({ "data" });
        fired = guard.fired();
    }
    Outcome const outcome { result.status, read_file("data"), fs::exists(log_name) ? read_file(log_name) : Bytes {} };
    fs::current_path(s_home);

    if (result.out != "Hello from MFC!\n" || !result.err.empty())
        broken("output " + result.out + result.err);
    ModelRun const model = model_run(original);
    bool const retried = fault.error == EINTR || fault.error == FailingCall::short_transfer;
    if (!fired || retried) {
        if (outcome.status != 0)
            broken("exit status " + std::to_string(outcome.status));
        if (outcome.data != model.data)
            broken("data " + show(outcome.data));
        if (outcome.log != model.log())
            broken("log " + show(*outcome.log));
    } else if (std::string const what = broken_promise(original, std::nullopt, outcome); !what.empty()) {
        broken(what);
    }
    return 0;
}
