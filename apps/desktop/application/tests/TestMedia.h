#pragma once

// The streams the test fixtures encode, by file name.

#include <filesystem>

namespace vexilo::application::test {

inline std::filesystem::path testMedia(const char* name)
{
    return std::filesystem::path(VEXILO_TEST_MEDIA_DIR) / name;
}

}  // namespace vexilo::application::test
