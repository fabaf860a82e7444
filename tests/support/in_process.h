// Running the whole tool inside the test process, with an application object.
#pragma once

#include <string>
#include <vector>

#include "platform/CWinApp.h"

namespace support {

struct RunResult {
    int status;
    std::string out;
    std::string err;
};

// Runs the tool with args (not including argv[0]) in the current directory.
RunResult run_in_process(std::vector<std::string> const& args);

}  // namespace support
