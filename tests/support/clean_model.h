// What the tool makes of a data file, worked out independently of it, and the
// promise every run keeps whatever fails during it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace support {

// A run without failures.
struct ModelRun {
    Bytes data;  // the data file afterwards
    std::vector<Bytes> lines;  // what each changed record adds to the log, in order
    std::size_t stop { 0 };  // where the pass stops; no byte from here on changes

    // The record lines and the summary line.
    Bytes log() const;
};

ModelRun model_run(Bytes const& original);

// What a run left behind.
struct Outcome {
    int status;
    Bytes data;
    std::optional<Bytes> log;  // none when there is no log file
};

// The log as the first `lines` record lines and, when present, the summary
// line for `summary` records.
struct LogShape {
    std::size_t lines;
    std::optional<long long> summary;
};

// How log is made of the model's record lines and a summary line; none when
// it is not such a log. A summary never counts fewer records than have lines.
std::optional<LogShape> log_shape(ModelRun const& model, Bytes const& log);

// Checks what every run must leave, whatever failed: status 0 or 1, and 1
// only with the data file untouched; the same length; every byte its original
// or the original with bit 7 cleared; nothing changed from the stop on; the
// records treated in full up to some record and untouched from there on; a
// log that is the earlier one, or record lines and at most one summary line,
// which counts at least the records cleaned on disk and at most one record
// more than have lines; and at most one block (512 records) with lines that
// are not cleaned on disk. Returns the first broken promise, or "" when all
// hold.
std::string broken_promise(Bytes const& original, std::optional<Bytes> const& earlier_log, Outcome const& outcome);

// How many whole records, from the first, hold the model's result.
std::size_t records_treated(ModelRun const& model, Bytes const& data);

}  // namespace support
