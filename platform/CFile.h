// The class library's file: raw bytes, one position, exclusive access.
//
// Open reports failure by its result and never throws. Every other operation
// reports failure by throwing a CFileException* made with new, which the
// catcher releases with Delete. Positions are 64-bit, so files of any size
// are addressed correctly.
//
// Reads and writes go through one block of the file held in memory, so small
// transfers cost no system call. The position lives here, not in the system:
// GetPosition and Seek never make one. Bytes written where the block holds
// the file stay pending until a read needs another block, a write comes that
// does not touch them, or the file is closed; then one call writes each run
// of touching writes, and no byte that was not written. A failure to write
// pending bytes is thrown by the call that wrote them out, Read, Write or
// Close, and drops them.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

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
    // Releasing an open file writes out its pending bytes and closes it,
    // ignoring failures, like Close that never throws.
    virtual ~CFile();
    CFile(CFile const&) = delete;
    CFile& operator=(CFile const&) = delete;

    // Opens an existing regular file for reading and writing at offset 0,
    // held exclusively until it is closed; never creates one. With modeCreate
    // the file is created or emptied instead. Returns false on any failure,
    // with the error number in *error when one is given.
    virtual bool Open(char const* file_name, unsigned open_flags, CFileException* error = nullptr);

    std::uint64_t GetPosition() const
    {
        check_open();
        return m_position;
    }

    // Moves the position to offset from begin or current and returns it.
    // Seeking from end is not supported and throws, like a negative position.
    std::uint64_t Seek(std::int64_t offset, unsigned from);

    // Returns the number of bytes read; less than count only at end of file.
    // Throws, with the position unchanged, when reading fails or pending
    // bytes can't be written out.
    unsigned Read(void* buffer, unsigned count)
    {
        // Inline, so that the usual read, all in the block, costs a copy.
        std::uint64_t const offset = m_position - m_block_start;
        if (count == 0 || !block_has(offset, count))
            return read_slowly(buffer, count);
        std::memcpy(buffer, m_block.get() + offset, count);
        m_position += count;
        return count;
    }

    // Writes all count bytes or throws, with the position unchanged and
    // nothing of this call written. The bytes may reach the file only later:
    // every later read sees them, and a failure to write them out is thrown
    // by the call that tries.
    void Write(void const* buffer, unsigned count)
    {
        std::uint64_t const offset = m_position - m_block_start;
        if (count == 0 || !block_has(offset, count) || !joins_pending(offset, offset + count))
            return write_slowly(buffer, count);
        put_in_block(offset, buffer, count);
    }

    // Writes out pending bytes and closes the file. Throws when either fails,
    // after which the file is closed all the same and nothing is pending.
    virtual void Close();

    // Drops pending bytes and closes whatever is still open, ignoring
    // failures; harmless when closed.
    virtual void Abort();

protected:
    bool open_handle(char const* file_name, unsigned open_flags, CFileException* error);
    void check_open() const
    {
        if (!m_open)
            throw_file_exception(EBADF);
    }
    // Writes out pending bytes and closes, ignoring failures; for destructors.
    void close_quietly();
    [[noreturn]] static void throw_file_exception(int os_error, int cause = CFileException::generic);

    platform::os::Handle m_handle {};
    bool m_open { false };
    std::uint64_t m_position { 0 };

private:
    // Whether the block holds the count bytes at offset from its start; an
    // offset before the start wraps around and fails too.
    bool block_has(std::uint64_t offset, std::size_t count) const
    {
        return m_block_loaded && offset <= m_block_size && count <= m_block_size - offset;
    }

    // Whether bytes from begin to end of the block may join the pending ones
    // in one run: nothing is pending, or they touch or overlap.
    bool joins_pending(std::size_t begin, std::size_t end) const
    {
        return m_pending_begin == m_pending_end || (begin <= m_pending_end && end >= m_pending_begin);
    }

    void put_in_block(std::size_t offset, void const* buffer, std::size_t count)
    {
        std::memcpy(m_block.get() + offset, buffer, count);
        std::size_t const end = offset + count;
        if (m_pending_begin == m_pending_end) {
            m_pending_begin = offset;
            m_pending_end = end;
        } else {
            m_pending_begin = offset < m_pending_begin ? offset : m_pending_begin;
            m_pending_end = end > m_pending_end ? end : m_pending_end;
        }
        m_position += count;
    }

    unsigned read_slowly(void* buffer, unsigned count);
    void write_slowly(void const* buffer, unsigned count);
    bool block_holds(std::uint64_t position) const;
    void load_block(std::uint64_t position);
    void write_through(std::uint64_t position, void const* buffer, std::size_t count);
    void write_pending();
    platform::os::Status try_write_pending();
    void release_block();

    // The block covers the file from m_block_start, a multiple of its
    // capacity, for m_block_size bytes, fewer only at the end of the file or
    // where reading failed;
    // it is loaded only while the file is open. Bytes from m_pending_begin to
    // m_pending_end of it are not yet written.
    std::unique_ptr<std::uint8_t[]> m_block;
    bool m_block_loaded { false };
    std::uint64_t m_block_start { 0 };
    std::size_t m_block_size { 0 };
    int m_block_error { 0 };  // why the block ends short of the file's end, or 0
    std::size_t m_pending_begin { 0 };
    std::size_t m_pending_end { 0 };
};
