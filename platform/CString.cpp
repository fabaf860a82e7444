#include "platform/CString.h"

#include "platform/os.h"

namespace {

constexpr char const* white_space = " \t\n\v\f\r";

}  // namespace

CString::CString(char const* text)
    : m_text(text != nullptr ? text : "")
{
}

bool CString::LoadString(unsigned id)
{
    m_text.clear();
    return platform::os::load_string(id, m_text);
}

void CString::TrimLeft() { m_text.erase(0, m_text.find_first_not_of(white_space)); }

void CString::TrimRight()
{
    auto const last = m_text.find_last_not_of(white_space);
    m_text.erase(last == std::string::npos ? 0 : last + 1);
}
