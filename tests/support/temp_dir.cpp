#include "tests/support/temp_dir.h"

#include <stdexcept>
#include <stdlib.h>
#include <string>

namespace support {

TempDir::TempDir()
    : m_previous(std::filesystem::current_path())
{
    std::string pattern = (std::filesystem::temp_directory_path() / "velmorane-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
    std::filesystem::current_path(m_path);
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
    // Tests may leave read-only modes behind; root removes them all the same.
    std::filesystem::permissions(
        m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

}  // namespace support
