// Runs the fuzz target once over each input file, or each file of a folder,
// for builds without libFuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "tests/support/bytes.h"

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* input, std::size_t size);

int main(int argc, char* argv[])
{
    namespace fs = std::filesystem;
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        fs::path const path = fs::absolute(argv[i]);
        auto const run = [&](fs::path const& file) {
            support::Bytes const input = support::read_file(file);
            LLVMFuzzerTestOneInput(input.data(), input.size());
            ++inputs;
        };
        if (fs::is_directory(path)) {
            for (auto const& entry : fs::directory_iterator(path))
                run(entry.path());
        } else {
            run(path);
        }
    }
    std::printf("%d inputs\n", inputs);
    return inputs > 0 ? 0 : 1;
}
