// The record pass: the data file read as 128-byte records, bit 7 of every byte
// cleared, each changed record written back over itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/CFile.h"
#include "platform/CString.h"

namespace clean {

constexpr std::size_t record_size = 128;
constexpr std::uint8_t end_of_text = 0x1A;

using Record = std::uint8_t[record_size];

// Called for each changed record once it has been written back; may change the
// record, which the next read refills. May throw CFileException*, which ends
// the pass like a failure of the data file.
using OnChangedRecord = std::function<void(Record&)>;

// Opens the data file by path for reading and writing, exclusively. Returns
// false, without throwing, when it can't be opened.
bool open_data_file(CFile& file, CString const& path);

// Clears bit 7 of every byte; returns whether any byte changed.
bool clear_high_bits(Record& record);

// Runs the record loop from the file's current position until a short read, a
// record that begins with the end-of-text marker, or a file exception, which
// is released here. Returns the number of changed records, each counted before
// its write-back, so a record whose write-back failed counts too.
std::int64_t run_record_loop(CFile& file, Record& record, OnChangedRecord const& on_changed);

// Closes the data file; a failed close aborts it. Throws nothing.
void close_data_file(CFile& file);

}  // namespace clean
