#include "clean/record_pass.h"

namespace clean {

bool open_data_file(CFile& file, CString const& path) { return file.Open(path, CFile::modeReadWrite, nullptr); }

bool clear_high_bits(Record& record)
{
    // Or-ing every byte and masking unconditionally lets the compiler
    // vectorise the loop; a byte below 0x80 is stored back unchanged.
    std::uint8_t seen = 0;
    for (std::uint8_t& byte : record) {
        seen |= byte;
        byte &= 0x7F;
    }
    return (seen & 0x80) != 0;
}

std::int64_t run_record_loop(CFile& file, Record& record, OnChangedRecord const& on_changed)
{
    std::int64_t modified_records = 0;
    bool done = false;
    while (!done) {
        try {
            std::uint64_t const position = file.GetPosition();
            if (file.Read(record, record_size) != record_size) {
                done = true;
                continue;
            }
            // The marker is tested as read: a record that begins with 0x9A is
            // cleaned to 0x1A and the pass goes on.
            if (record[0] == end_of_text) {
                done = true;
                continue;
            }
            if (!clear_high_bits(record))
                continue;
            // Count the record before writing it back: a failed write still counts.
            ++modified_records;
            file.Seek(static_cast<std::int64_t>(position), CFile::begin);
            file.Write(record, record_size);
            if (on_changed)
                on_changed(record);
        } catch (CFileException* e) {
            e->Delete();
            done = true;
        }
    }
    return modified_records;
}

void close_data_file(CFile& file)
{
    try {
        file.Close();
    } catch (CFileException* e) {
        e->Delete();
        file.Abort();
    }
}

}  // namespace clean
