// The class library's string: a copy of zero-terminated text that the run
// loads, trims and hands on as a zero-terminated string.
#pragma once

#include <string>

class CString {
public:
    CString() = default;
    CString(char const* text);  // NOLINT(google-explicit-constructor): converts like the class library's

    // Loads string id of the executable's string table; an unknown id leaves
    // the string empty and returns false.
    bool LoadString(unsigned id);

    // Remove space, \t, \n, \v, \f and \r from one end.
    void TrimLeft();
    void TrimRight();

    int GetLength() const { return static_cast<int>(m_text.size()); }
    operator char const*() const { return m_text.c_str(); }  // NOLINT(google-explicit-constructor)

private:
    std::string m_text;
};
