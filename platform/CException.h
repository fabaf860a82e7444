// Class-library exceptions. They are thrown by pointer, made with new, and the
// catcher releases each one exactly once with Delete.
#pragma once

class CException {
public:
    CException(CException const&) = delete;
    CException& operator=(CException const&) = delete;

    // Releases the exception; the pointer is dangling afterwards.
    void Delete() { delete this; }

protected:
    CException() = default;
    virtual ~CException() = default;
};

class CFileException : public CException {
public:
    enum Cause {
        none,
        generic,
        badSeek,
    };

    CFileException(int cause, long os_error)
        : m_cause(cause)
        , m_lOsError(os_error)
    {
    }

    int m_cause;
    long m_lOsError;  // errno, or GetLastError() on Win32
};
