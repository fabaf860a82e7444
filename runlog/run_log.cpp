#include "runlog/run_log.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace runlog {

namespace {

// Ends the text at byte 125: a line feed in byte 126, the terminator in 127.
void end_line(LineBuffer& buffer)
{
    buffer[line_size - 2] = '\n';
    buffer[line_size - 1] = '\0';
}

}  // namespace

bool open_run_log(CStdioFile& log) { return log.Open(log_name, CFile::modeCreate | CFile::modeReadWrite, nullptr); }

void write_record_line(CStdioFile& log, LineBuffer& record)
{
    end_line(record);
    log.WriteString(reinterpret_cast<char const*>(record));
}

void finish_run_log(CStdioFile& log, LineBuffer& buffer, std::int64_t modified_records)
{
    std::ranges::fill(buffer, ' ');
    char* const text = reinterpret_cast<char*>(buffer);
    // Even the longest count leaves the text well short of byte 126.
    int const length = std::snprintf(
        text, line_size, "%" PRId64 " %s modified", modified_records, modified_records == 1 ? "Record" : "Records");
    buffer[length] = ' ';
    end_line(buffer);

    // A failed write of the summary line is treated like a failed close.
    try {
        log.WriteString(text);
        log.Close();
    } catch (CFileException* e) {
        e->Delete();
        log.Abort();
    }
}

}  // namespace runlog
