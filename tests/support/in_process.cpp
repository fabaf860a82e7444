#include "tests/support/in_process.h"

#include <sstream>

#include "app/run.h"

namespace support {

RunResult run_in_process(std::vector<std::string> const& args)
{
    std::vector<std::string> storage { "velmorane" };
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    argv.reserve(storage.size() + 1);
    for (auto& arg : storage)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    std::ostringstream out;
    std::ostringstream err;
    int const status = app::run(static_cast<int>(storage.size()), argv.data(), out, err);
    return { status, out.str(), err.str() };
}

}  // namespace support
