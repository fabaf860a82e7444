// Byte strings for fixtures: file contents, records and log text.
#pragma once

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace support {

using Bytes = std::vector<std::uint8_t>;

Bytes read_file(std::filesystem::path const& path);
void write_file(std::filesystem::path const& path, Bytes const& bytes);

// A 128-byte record of fill, with the given bytes set at their indexes.
Bytes record(std::uint8_t fill, std::initializer_list<std::pair<int, std::uint8_t>> set = {});
Bytes bytes(std::string_view text);
Bytes repeat(std::uint8_t value, std::size_t count);
Bytes operator+(Bytes left, Bytes const& right);

// Clears bit 7 of every byte.
Bytes cleaned(Bytes data);

// The log's summary line: the text padded with spaces to 126 characters and a
// line feed.
Bytes summary_line(long long modified_records);

// Bytes 0 to 125 of a record and a line feed.
Bytes record_line(Bytes const& cleaned_record);

// Printable form for failure messages.
std::string show(Bytes const& bytes);

}  // namespace support
