// The executable's string table where the system has no resources of its own:
// the build generates it from the same resource script that Win32 compiles.
#pragma once

#include <span>

namespace platform {

struct StringResource {
    unsigned id;
    char const* text;
};

// Defined by the executable's generated table.
extern std::span<StringResource const> const g_string_table;

}  // namespace platform
