// The string table for systems without executable resources, generated from
// strings.rc at configure time.
#include "platform/string_table.h"
#include "app/resource.h"

namespace {

constexpr platform::StringResource s_strings[] = {
#include "strings_rc.inc"
};

}  // namespace

namespace platform {

std::span<StringResource const> const g_string_table { s_strings };

}  // namespace platform
