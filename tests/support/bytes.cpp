#include "tests/support/bytes.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

namespace support {

Bytes read_file(std::filesystem::path const& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("can't read " + path.string());
    Bytes bytes(std::filesystem::file_size(path));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

void write_file(std::filesystem::path const& path, Bytes const& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<char const*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("can't write " + path.string());
}

Bytes record(std::uint8_t fill, std::initializer_list<std::pair<int, std::uint8_t>> set)
{
    Bytes result(128, fill);
    for (auto const& [index, value] : set)
        result.at(static_cast<std::size_t>(index)) = value;
    return result;
}

Bytes bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes repeat(std::uint8_t value, std::size_t count) { return Bytes(count, value); }

Bytes operator+(Bytes left, Bytes const& right)
{
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

Bytes cleaned(Bytes data)
{
    for (auto& byte : data)
        byte &= 0x7F;
    return data;
}

Bytes summary_line(long long modified_records)
{
    std::string text
        = std::to_string(modified_records) + (modified_records == 1 ? " Record" : " Records") + " modified";
    text.resize(126, ' ');
    return bytes(text + "\n");
}

Bytes record_line(Bytes const& cleaned_record)
{
    Bytes line(cleaned_record.begin(), cleaned_record.begin() + 126);
    line.push_back('\n');
    return line;
}

std::string show(Bytes const& bytes)
{
    std::string text;
    for (auto byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text += static_cast<char>(byte);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            text += escaped;
        }
    }
    return text;
}

}  // namespace support
