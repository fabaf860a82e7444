#include "platform/CFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Large enough that a system call's cost vanishes behind the copying, small
// enough to stay in the processor's cache: on the record pass 64 KiB measured
// a little faster than 128 KiB to 1 MiB. A multiple of 128, so that no record
// lies in two blocks.
constexpr std::size_t block_capacity = std::size_t { 1 } << 16;

}  // namespace

CFile::~CFile() { close_quietly(); }

bool CFile::Open(char const* file_name, unsigned open_flags, CFileException* error)
{
    constexpr unsigned supported = modeReadWrite | shareExclusive | modeCreate;
    if ((open_flags & ~supported) != 0) {
        if (error != nullptr)
            error->m_lOsError = EINVAL;
        return false;
    }
    return open_handle(file_name, open_flags, error);
}

bool CFile::open_handle(char const* file_name, unsigned open_flags, CFileException* error)
{
    // Only reading and writing together is offered; every open is exclusive.
    platform::os::Status status { false, EINVAL };
    if (!m_open && file_name != nullptr && (open_flags & modeReadWrite) != 0) {
        status = (open_flags & modeCreate) != 0 ? platform::os::create_or_empty(file_name, m_handle)
                                                : platform::os::open_existing(file_name, m_handle);
    }
    if (!status.ok) {
        if (error != nullptr) {
            error->m_cause = CFileException::generic;
            error->m_lOsError = status.error;
        }
        return false;
    }
    m_open = true;
    m_position = 0;
    return true;
}

std::uint64_t CFile::Seek(std::int64_t offset, unsigned from)
{
    check_open();
    std::int64_t base = 0;
    if (from == current)
        base = static_cast<std::int64_t>(m_position);
    else if (from != begin)
        throw_file_exception(EINVAL, CFileException::badSeek);
    if (offset < -base || offset > std::numeric_limits<std::int64_t>::max() - base)
        throw_file_exception(EINVAL, CFileException::badSeek);
    m_position = static_cast<std::uint64_t>(base + offset);
    return m_position;
}

unsigned CFile::read_slowly(void* buffer, unsigned count)
{
    check_open();
    auto* const out = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::uint64_t const at = m_position + done;
        if (!block_holds(at))
            load_block(at);
        std::size_t const offset = static_cast<std::size_t>(at - m_block_start);
        if (offset >= m_block_size) {
            if (m_block_error == 0)
                break;  // the end of the file
            // Read again next time, in case the failure passes; pending
            // bytes stay in the block and are written out before that.
            m_block_loaded = false;
            throw_file_exception(m_block_error);
        }
        std::size_t const take = std::min<std::size_t>(count - done, m_block_size - offset);
        std::memcpy(out + done, m_block.get() + offset, take);
        done += take;
    }
    m_position += done;
    return static_cast<unsigned>(done);
}

void CFile::write_slowly(void const* buffer, unsigned count)
{
    check_open();
    if (count == 0)
        return;
    std::uint64_t const offset = m_position - m_block_start;
    // Only bytes the block already holds are written there; anything else,
    // such as a write past the end of the file, goes straight through.
    if (!block_has(offset, count)) {
        write_through(m_position, buffer, count);
        m_position += count;
        return;
    }
    // A separate run writes out the one before it first, so no byte between
    // them is ever written.
    if (!joins_pending(offset, offset + count))
        write_pending();
    put_in_block(offset, buffer, count);
}

void CFile::Close()
{
    check_open();
    platform::os::Status const written = try_write_pending();
    release_block();
    m_open = false;
    platform::os::Status const closed = platform::os::close(m_handle);
    if (!written.ok)
        throw_file_exception(written.error);
    if (!closed.ok)
        throw_file_exception(closed.error);
}

void CFile::Abort()
{
    release_block();
    if (m_open) {
        m_open = false;
        platform::os::close(m_handle);
    }
}

void CFile::close_quietly()
{
    // Bytes that Write accepted are kept if at all possible: losing them
    // silently would leave the file behind what the caller was told.
    if (m_open)
        try_write_pending();
    CFile::Abort();
}

void CFile::throw_file_exception(int os_error, int cause) { throw new CFileException(cause, os_error); }

bool CFile::block_holds(std::uint64_t position) const
{
    return m_block_loaded && position >= m_block_start && position - m_block_start < block_capacity;
}

void CFile::load_block(std::uint64_t position)
{
    write_pending();
    m_block_loaded = false;
    if (!m_block) {
        m_block.reset(new (std::nothrow) std::uint8_t[block_capacity]);
        if (!m_block)
            throw_file_exception(ENOMEM);
    }
    std::uint64_t const start = position - position % block_capacity;
    std::size_t got = 0;
    auto const status = platform::os::read_at(m_handle, start, m_block.get(), block_capacity, got);
    // The bytes before a failure are good. The failure shows when a read gets
    // to where they end, as it would have without the block.
    if (!status.ok && got == 0)
        throw_file_exception(status.error);
    m_block_start = start;
    m_block_size = got;
    m_block_error = status.ok ? 0 : status.error;
    m_block_loaded = true;
}

void CFile::write_through(std::uint64_t position, void const* buffer, std::size_t count)
{
    write_pending();
    // The block may cover some of these bytes, or the end of the file that
    // this write moves: it is read again when next needed.
    if (m_block_loaded && position < m_block_start + block_capacity && position + count > m_block_start)
        m_block_loaded = false;
    if (auto const status = platform::os::write_at(m_handle, position, buffer, count); !status.ok)
        throw_file_exception(status.error);
}

void CFile::write_pending()
{
    if (auto const status = try_write_pending(); !status.ok)
        throw_file_exception(status.error);
}

platform::os::Status CFile::try_write_pending()
{
    if (m_pending_begin == m_pending_end)
        return {};
    auto const status = platform::os::write_at(
        m_handle, m_block_start + m_pending_begin, m_block.get() + m_pending_begin, m_pending_end - m_pending_begin);
    m_pending_begin = m_pending_end = 0;
    // The bytes are dropped either way: each byte of the file now holds its
    // old value or its new one, and writing them again later could surprise
    // the caller that was told of the failure. The block no longer matches
    // the file, so it is read again when next needed.
    if (!status.ok)
        m_block_loaded = false;
    return status;
}

void CFile::release_block()
{
    m_block.reset();
    m_block_loaded = false;
    m_pending_begin = m_pending_end = 0;
}
