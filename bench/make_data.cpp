// Writes a data file for bench/run: 128-byte records of 7-bit text, words and
// line feeds, with bit 7 set on the last letter of every word in the records
// chosen to change, the way old word processors marked word ends.
//
// Usage: make_data clean|all|one-percent MIB FILE
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr std::size_t record_size = 128;

// A fixed generator, so every run measures the same bytes.
class Random {
public:
    std::uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return static_cast<std::uint32_t>(m_state >> 32);
    }

private:
    std::uint64_t m_state { 0x9E3779B97F4A7C15u };
};

void fill_record(std::uint8_t* record, Random& random, bool dirty)
{
    std::size_t i = 0;
    while (i < record_size) {
        std::size_t const word = 1 + random.next() % 9;
        for (std::size_t k = 0; k < word && i < record_size; ++k)
            record[i++] = static_cast<std::uint8_t>('a' + random.next() % 26);
        if (dirty)
            record[i - 1] |= 0x80;
        if (i < record_size)
            record[i++] = random.next() % 12 == 0 ? '\n' : ' ';
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: make_data clean|all|one-percent MIB FILE\n");
        return 2;
    }
    char const* const mode = argv[1];
    bool const all = std::strcmp(mode, "all") == 0;
    bool const one_percent = std::strcmp(mode, "one-percent") == 0;
    if (!all && !one_percent && std::strcmp(mode, "clean") != 0) {
        std::fprintf(stderr, "make_data: unknown mode %s\n", mode);
        return 2;
    }
    std::size_t const records = std::strtoull(argv[2], nullptr, 10) * (std::size_t { 1 } << 20) / record_size;
    std::FILE* const out = std::fopen(argv[3], "wb");
    if (out == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    Random random;
    std::vector<std::uint8_t> chunk(8192 * record_size);
    for (std::size_t done = 0; done < records;) {
        std::size_t const count = std::min<std::size_t>(8192, records - done);
        for (std::size_t r = 0; r < count; ++r) {
            bool const dirty = all || (one_percent && random.next() % 100 == 0);
            fill_record(chunk.data() + r * record_size, random, dirty);
        }
        if (std::fwrite(chunk.data(), record_size, count, out) != count) {
            std::perror(argv[3]);
            return 1;
        }
        done += count;
    }
    return std::fclose(out) == 0 ? 0 : 1;
}
