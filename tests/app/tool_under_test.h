// The executable that the black-box tests run: the tool built beside them, or
// a Windows build of it run under Wine. The build says which by defining
// VELMORANE_EXE, VELMORANE_WINDOWS (1 or 0), VELMORANE_LAUNCHER (the program
// that runs the executable, or "") and VELMORANE_WINDOWS_HELPERS (the folder
// of the suite's own Windows programs, or "").
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/bytes.h"
#include "tests/support/tool.h"

namespace tool_under_test {

inline std::filesystem::path const exe { VELMORANE_EXE };
inline constexpr bool windows = VELMORANE_WINDOWS != 0;
inline std::filesystem::path const launcher { VELMORANE_LAUNCHER };

// Runs the tool, or one of the suite's Windows programs, the way its target
// runs programs.
inline support::ToolResult run(
    std::filesystem::path const& program, std::vector<std::string> const& args, support::RunOptions options = {})
{
    options.launcher = launcher;
    return support::run_program(program, args, options);
}

inline support::ToolResult run_tool(std::vector<std::string> const& args, support::RunOptions const& options = {})
{
    return run(exe, args, options);
}

// One of the suite's Windows programs, by name.
inline std::filesystem::path windows_helper(char const* name)
{
    return std::filesystem::path(VELMORANE_WINDOWS_HELPERS) / (std::string(name) + ".exe");
}

// Text as the target's text mode stores it: each line feed becomes CR LF on
// Windows and stays as it is elsewhere.
inline support::Bytes text_mode(support::Bytes const& text)
{
    if (!windows)
        return text;
    support::Bytes stored;
    for (auto const byte : text) {
        if (byte == '\n')
            stored.push_back('\r');
        stored.push_back(byte);
    }
    return stored;
}

inline std::string text_mode(std::string const& text)
{
    support::Bytes const stored = text_mode(support::bytes(text));
    return std::string(stored.begin(), stored.end());
}

}  // namespace tool_under_test
