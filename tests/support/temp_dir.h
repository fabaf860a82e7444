// A fresh temporary directory for one test, made the working directory for
// its life; the previous working directory comes back and the directory goes.
#pragma once

#include <filesystem>

namespace support {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;

    std::filesystem::path const& path() const { return m_path; }
    std::filesystem::path operator/(std::filesystem::path const& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
    std::filesystem::path m_previous;
};

}  // namespace support
