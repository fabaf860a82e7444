// The record pass done literally, as an unbuffered file class would do it:
// one system call per operation, lseek for the position, 128-byte reads and
// writes.
//
// Usage: literal_loop FILE.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::size_t record_size = 128;
constexpr std::uint8_t end_of_text = 0x1A;

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: literal_loop FILE\n");
        return 2;
    }
    int const fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::uint8_t record[record_size];
    for (;;) {
        off_t const position = lseek(fd, 0, SEEK_CUR);
        if (position < 0 || read(fd, record, record_size) != ssize_t(record_size) || record[0] == end_of_text)
            break;
        std::uint8_t seen = 0;
        for (std::uint8_t& byte : record) {
            seen |= byte;
            byte &= 0x7F;
        }
        if ((seen & 0x80) == 0)
            continue;
        if (lseek(fd, position, SEEK_SET) != position || write(fd, record, record_size) != ssize_t(record_size)) {
            std::perror("write");
            return 1;
        }
    }
    return close(fd) == 0 ? 0 : 1;
}
