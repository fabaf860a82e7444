#include "platform/CFile.h"

#include <cerrno>
#include <limits>

CFile::~CFile() { Abort(); }

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

std::uint64_t CFile::GetPosition() const
{
    check_open();
    return m_position;
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

unsigned CFile::Read(void* buffer, unsigned count)
{
    check_open();
    std::size_t got = 0;
    if (auto const status = platform::os::read_at(m_handle, m_position, buffer, count, got); !status.ok)
        throw_file_exception(status.error);
    m_position += got;
    return static_cast<unsigned>(got);
}

void CFile::Write(void const* buffer, unsigned count)
{
    check_open();
    if (auto const status = platform::os::write_at(m_handle, m_position, buffer, count); !status.ok)
        throw_file_exception(status.error);
    m_position += count;
}

void CFile::Close()
{
    check_open();
    m_open = false;
    if (auto const status = platform::os::close(m_handle); !status.ok)
        throw_file_exception(status.error);
}

void CFile::Abort()
{
    if (m_open) {
        m_open = false;
        platform::os::close(m_handle);
    }
}

void CFile::check_open() const
{
    if (!m_open)
        throw_file_exception(EBADF);
}

void CFile::throw_file_exception(int os_error, int cause) { throw new CFileException(cause, os_error); }
