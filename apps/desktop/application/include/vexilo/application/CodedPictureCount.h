#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace vexilo::application {

// The pictures of a raw H.265 byte stream (Annex B), counted from the NAL unit headers alone:
// every base-layer slice segment that starts a picture. Reads the file once and decodes
// nothing, so an open can tell how many pictures its analysis will go through. Empty when the
// file is not such a stream (a container, say), holds no picture, cannot be read, or the stop
// token asks to give up.
[[nodiscard]] std::optional<std::uint64_t> countCodedPictures(const std::filesystem::path& path,
                                                              const std::stop_token& stop = {});

}  // namespace vexilo::application
