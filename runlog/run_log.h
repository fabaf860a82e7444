// The run log: a text file in the current directory with a line for each
// changed record and a closing summary line that counts them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/CStdioFile.h"

namespace runlog {

constexpr char const* log_name = "Velmorane.Log";
constexpr std::size_t line_size = 128;

using LineBuffer = std::uint8_t[line_size];

// Creates or empties the run log and holds it exclusively. Returns false,
// without throwing, when it can't be opened; the run then goes on without it.
bool open_run_log(CStdioFile& log);

// Writes the record's first 126 bytes and a line feed, up to the first zero
// byte. Overwrites the record's last two bytes. Throws CFileException*.
void write_record_line(CStdioFile& log, LineBuffer& record);

// Builds the summary line in the buffer, writes it and closes the log. A
// failure of either is released and the log aborted; throws nothing.
void finish_run_log(CStdioFile& log, LineBuffer& buffer, std::int64_t modified_records);

}  // namespace runlog
