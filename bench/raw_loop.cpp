// The baseline the tool is measured against: the same cleaning done with one
// pread and at most one pwrite per MiB, and no file class in between.
//
// Usage: raw_loop FILE. Records that change are written back with the rest of
// their chunk; the pass stops where the tool stops.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t record_size = 128;
constexpr std::size_t chunk_size = std::size_t { 1 } << 20;
constexpr std::uint8_t end_of_text = 0x1A;

// Cleans whole records from the chunk's start until a record that begins with
// the end-of-text marker; returns the number of bytes it covered and whether
// the pass stops there.
std::size_t clean_chunk(std::uint8_t* chunk, std::size_t size, bool& changed, bool& stop)
{
    std::size_t at = 0;
    for (; at + record_size <= size; at += record_size) {
        if (chunk[at] == end_of_text) {
            stop = true;
            return at;
        }
        std::uint8_t seen = 0;
        for (std::size_t i = at; i < at + record_size; ++i) {
            seen |= chunk[i];
            chunk[i] &= 0x7F;
        }
        changed = changed || (seen & 0x80) != 0;
    }
    stop = size < chunk_size;
    return at;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: raw_loop FILE\n");
        return 2;
    }
    int const fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<std::uint8_t> chunk(chunk_size);
    for (off_t offset = 0;; offset += off_t(chunk_size)) {
        ssize_t const got = pread(fd, chunk.data(), chunk.size(), offset);
        if (got < 0) {
            std::perror("pread");
            return 1;
        }
        bool changed = false;
        bool stop = false;
        std::size_t const covered = clean_chunk(chunk.data(), std::size_t(got), changed, stop);
        if (changed && pwrite(fd, chunk.data(), covered, offset) != ssize_t(covered)) {
            std::perror("pwrite");
            return 1;
        }
        if (stop)
            break;
    }
    return close(fd) == 0 ? 0 : 1;
}
