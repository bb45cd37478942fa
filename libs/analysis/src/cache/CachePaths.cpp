#include "vexilo/analysis/cache/CachePaths.h"

#include "vexilo/analysis/cache/CacheManifest.h"

#include <string>
#include <string_view>

namespace vexilo::analysis {
namespace {

constexpr const char* kUnsafeResolvedPath = "cache manifest contains an unsafe relative path";
constexpr const char* kUnsafeManifestPath = "manifest contains an unsafe relative path";
constexpr const char* kPictureOutsidePicturesDir =
    "manifest picture path must stay under pictures directory";
constexpr const char* kPictureWrongExtension = "manifest picture path must use .vxpic extension";

constexpr bool isElementSeparator(char character) noexcept
{
    return character == '/' || character == '\\';
}

constexpr bool isAsciiLetter(char character) noexcept
{
    return (character >= 'A' && character <= 'Z') || (character >= 'a' && character <= 'z');
}

// A drive ("C:") is a root even where the local file system has no drives: the
// same manifest must be judged alike wherever it is read.
bool hasRootNameOrDirectory(std::string_view text) noexcept
{
    if (!text.empty() && isElementSeparator(text.front())) {
        return true;
    }
    return text.size() >= 2 && isAsciiLetter(text[0]) && text[1] == ':';
}

bool hasDotElement(std::string_view text) noexcept
{
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = start;
        while (end < text.size() && !isElementSeparator(text[end])) {
            ++end;
        }
        const std::string_view element = text.substr(start, end - start);
        if (element == "." || element == "..") {
            return true;
        }
        start = end + 1;
    }
    return false;
}

std::filesystem::path withoutTrailingSeparators(const std::filesystem::path& path)
{
    std::string text = path.native();
    while (!text.empty() && text.back() == std::filesystem::path::preferred_separator) {
        text.pop_back();
    }
    return std::filesystem::path(std::move(text));
}

OptionalCacheError invalidPath(std::filesystem::path&& path, const char* message)
{
    return makeCacheError(CacheErrorKind::invalid_path, std::move(path), std::string(message));
}

// The path's parent, element by element, is the picture directory. Plain
// "pictures/<name>" is settled on the text; anything unusual goes through the
// path algebra. Manifests hold up to 100,000,000 entries, so the common case counts.
bool liesDirectlyIn(const std::filesystem::path& entry, const std::filesystem::path& directory)
{
    const std::string& text = entry.native();
    const std::string& prefix = directory.native();
    constexpr char separator = std::filesystem::path::preferred_separator;
    const bool plain = !prefix.empty() && prefix.back() != separator &&
                       text.size() > prefix.size() + 1 && text.starts_with(prefix) &&
                       text[prefix.size()] == separator &&
                       text.find(separator, prefix.size() + 1) == std::string::npos;
    return plain || withoutTrailingSeparators(entry.parent_path()) == directory;
}

// From the last "." of the file name, which must not be its first character.
bool hasPictureExtension(const std::filesystem::path& entry)
{
    const std::string& text = entry.native();
    const std::size_t nameStart = text.rfind(std::filesystem::path::preferred_separator);
    const std::string_view name =
        std::string_view(text).substr(nameStart == std::string::npos ? 0 : nameStart + 1);
    return name.size() > kPictureFileExtension.size() && name.ends_with(kPictureFileExtension);
}

OptionalCacheError checkPictureEntry(const std::filesystem::path& root,
                                     const std::filesystem::path& picturesDir,
                                     const ManifestPictureEntry& entry)
{
    if (!isSafeRelativePath(entry.path)) {
        return invalidPath(root / entry.path, kUnsafeResolvedPath);
    }
    if (!liesDirectlyIn(entry.path, picturesDir)) {
        return invalidPath(root / entry.path, kPictureOutsidePicturesDir);
    }
    if (!hasPictureExtension(entry.path)) {
        return invalidPath(root / entry.path, kPictureWrongExtension);
    }
    return std::nullopt;
}

}  // namespace

bool isSafeRelativePath(const std::filesystem::path& path)
{
    const std::string_view text = path.native();
    return !text.empty() && !hasRootNameOrDirectory(text) && !hasDotElement(text);
}

CacheResult<std::filesystem::path> resolveCacheRelativePath(const std::filesystem::path& root,
                                                            const std::filesystem::path& rel)
{
    std::filesystem::path joined = root / rel;
    if (!isSafeRelativePath(rel)) {
        return makeCacheError(CacheErrorKind::invalid_path, std::move(joined),
                              std::string(kUnsafeResolvedPath));
    }
    return joined;
}

OptionalCacheError validateManifestPicturePath(const std::filesystem::path& root,
                                               const CacheManifest& manifest)
{
    for (const auto* named : {&manifest.streamPath, &manifest.indexPath, &manifest.picturesDir}) {
        if (!isSafeRelativePath(*named)) {
            return invalidPath(root / *named, kUnsafeManifestPath);
        }
    }
    for (const ManifestPictureEntry& entry : manifest.pictures) {
        if (auto error = checkPictureEntry(root, manifest.picturesDir, entry)) {
            return error;
        }
    }
    return std::nullopt;
}

}  // namespace vexilo::analysis
