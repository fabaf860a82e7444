// The class library's stream file, in text mode: what it is given is buffered
// and each line feed is stored as the platform's line ending.
#pragma once

#include <array>
#include <cstddef>

#include "platform/CFile.h"

class CStdioFile : public CFile {
public:
    CStdioFile() = default;
    ~CStdioFile() override;

    // As CFile::Open, in text mode; typeBinary is not supported.
    bool Open(char const* file_name, unsigned open_flags, CFileException* error = nullptr) override;

    // Buffers the bytes before the first zero byte, writing out what is
    // buffered first when they don't fit. Throws when that write-out fails;
    // then nothing of text is taken, and the bytes that were not written out
    // stay buffered for the next write-out.
    void WriteString(char const* text);

    // Writes out what is buffered and closes. Throws when either fails; after a
    // failed write-out the file is still open, for Abort to close.
    void Close() override;

    // Drops what is buffered and closes, ignoring failures.
    void Abort() override;

private:
    void flush();

    // A run that changes every record writes a log almost as large as the
    // data file; 64 KiB per system call keeps that cheap.
    std::array<char, 65536> m_buffer {};
    std::size_t m_used { 0 };
};
