// Feeds arbitrary file images to the container decoder. The expected magic is
// taken from the image itself half of the time, so that the checks behind the
// magic are reached.

#include "vexilo/analysis/cache/CacheContainer.h"

#include <cstdlib>
#include <cstring>

namespace {
// Bytes 53 to 63 are padding that no reader looks at.
constexpr std::size_t kCheckedHeaderBytes = 53;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace vexilo::analysis;
    const std::span<const std::uint8_t> image(data, size);
    std::uint64_t expected = kManifestMagic;
    if (size >= sizeof expected && (size % 2) == 0) {
        std::memcpy(&expected, data, sizeof expected);
    }
    const auto decoded = decodeCacheContainer(image, expected, "fuzz");
    if (const auto* header = std::get_if<CacheContainerHeader>(&decoded)) {
        // Whatever is accepted must describe exactly the image it came from.
        if (header->storedSize > kCacheMaxPayloadSize ||
            size != kCacheContainerHeaderSize + header->storedSize) {
            std::abort();
        }
        // Re-encoding gives back every byte the reader looked at.
        const auto encoded = encodeCacheContainerHeader(*header);
        for (std::size_t offset = 0; offset < kCheckedHeaderBytes; ++offset) {
            const bool reserved = offset == 21 || offset == 22;
            if (!reserved && encoded[offset] != data[offset]) {
                std::abort();
            }
        }
        (void)fnv1a64(image.subspan(kCacheContainerHeaderSize));
    }
    return 0;
}
