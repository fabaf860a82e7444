// Catching what the class library throws.
#pragma once

#include <functional>

#include <gtest/gtest.h>

#include "platform/CException.h"

namespace support {

// Expects body to throw a CFileException*, releases it and returns its error
// number; 0 when nothing was thrown.
inline long thrown_os_error(std::function<void()> const& body)
{
    try {
        body();
    } catch (CFileException* e) {
        long const error = e->m_lOsError;
        e->Delete();
        return error;
    }
    ADD_FAILURE() << "no CFileException* thrown";
    return 0;
}

}  // namespace support
