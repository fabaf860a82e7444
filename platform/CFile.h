// The class library's file: raw bytes, one position, exclusive access.
//
// Open reports failure by its result and never throws. Every other operation
// reports failure by throwing a CFileException* made with new, which the
// catcher releases with Delete. Positions are 64-bit, so files of any size
// are addressed correctly.
#pragma once

#include <cstdint>

#include "platform/CException.h"
#include "platform/os.h"

class CFile {
public:
    enum OpenFlags : unsigned {
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        modeCreate = 0x1000,
        typeText = 0x4000,
        typeBinary = 0x8000,
    };

    enum SeekPosition : unsigned {
        begin = 0,
        current = 1,
        end = 2,
    };

    CFile() = default;
    virtual ~CFile();
    CFile(CFile const&) = delete;
    CFile& operator=(CFile const&) = delete;

    // Opens an existing regular file for reading and writing at offset 0,
    // held exclusively until it is closed; never creates one. With modeCreate
    // the file is created or emptied instead. Returns false on any failure,
    // with the error number in *error when one is given.
    virtual bool Open(char const* file_name, unsigned open_flags, CFileException* error = nullptr);

    std::uint64_t GetPosition() const;

    // Moves the position to offset from begin or current and returns it.
    // Seeking from end is not supported and throws, like a negative position.
    std::uint64_t Seek(std::int64_t offset, unsigned from);

    // Returns the number of bytes read; less than count only at end of file.
    unsigned Read(void* buffer, unsigned count);

    // Writes all count bytes or throws.
    void Write(void const* buffer, unsigned count);

    // Closes the file; throws when closing reports a failure, after which the
    // file is closed all the same.
    virtual void Close();

    // Closes whatever is still open, ignoring failures; harmless when closed.
    virtual void Abort();

protected:
    bool open_handle(char const* file_name, unsigned open_flags, CFileException* error);
    void check_open() const;
    [[noreturn]] static void throw_file_exception(int os_error, int cause = CFileException::generic);

    platform::os::Handle m_handle {};
    bool m_open { false };
    std::uint64_t m_position { 0 };
};
