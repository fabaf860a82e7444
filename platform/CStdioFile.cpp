#include "platform/CStdioFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

CStdioFile::~CStdioFile()
{
    // Releasing an open stream closes it, which writes out what it holds.
    if (m_open) {
        std::size_t written = 0;
        if (m_used > 0)
            platform::os::write_text(m_handle, m_buffer.data(), m_used, written);
        m_used = 0;
        close_quietly();
    }
}

bool CStdioFile::Open(char const* file_name, unsigned open_flags, CFileException* error)
{
    constexpr unsigned supported = modeReadWrite | shareExclusive | modeCreate | typeText;
    if ((open_flags & ~supported) != 0) {
        if (error != nullptr)
            error->m_lOsError = EINVAL;
        return false;
    }
    m_used = 0;
    return open_handle(file_name, open_flags, error);
}

void CStdioFile::WriteString(char const* text)
{
    check_open();
    std::size_t length = std::strlen(text);
    // A text that doesn't fit is preceded by a write-out, so the buffer holds
    // whole texts and a failed write-out never leaves part of one behind it.
    if (length > m_buffer.size() - m_used)
        flush();
    // Only a text longer than the whole buffer goes out in parts.
    while (length > 0) {
        if (m_used == m_buffer.size())
            flush();
        std::size_t const take = std::min(length, m_buffer.size() - m_used);
        std::memcpy(m_buffer.data() + m_used, text, take);
        m_used += take;
        text += take;
        length -= take;
    }
}

void CStdioFile::Close()
{
    check_open();
    flush();
    CFile::Close();
}

void CStdioFile::Abort()
{
    m_used = 0;
    CFile::Abort();
}

void CStdioFile::flush()
{
    if (m_used == 0)
        return;
    std::size_t written = 0;
    auto const status = platform::os::write_text(m_handle, m_buffer.data(), m_used, written);
    // Only what reached the file leaves the buffer, so a later write-out goes
    // on where a failed one stopped, neither losing nor repeating a byte.
    std::memmove(m_buffer.data(), m_buffer.data() + written, m_used - written);
    m_used -= written;
    if (!status.ok)
        throw_file_exception(status.error);
}
