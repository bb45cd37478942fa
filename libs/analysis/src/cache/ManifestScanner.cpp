#include "cache/ManifestScanner.h"

#include <limits>
#include <string>

namespace vexilo::analysis::manifestscan {
namespace {

constexpr std::string_view kHighKey = "\"stable_id_high\"";
constexpr std::string_view kLowKey = "\"stable_id_low\"";
constexpr std::string_view kPathKey = "\"path\"";

// ECMAScript \s as the standard regex engine applies it to 8-bit text in the C locale.
constexpr bool isRegexSpace(char character) noexcept
{
    return character == ' ' || character == '\t' || character == '\n' || character == '\v' ||
           character == '\f' || character == '\r';
}

constexpr bool isDigit(char character) noexcept
{
    return character >= '0' && character <= '9';
}

class TextCursor {
public:
    TextCursor(std::string_view text, std::size_t position) noexcept
        : text_(text), position_(position)
    {
    }

    [[nodiscard]] std::size_t position() const noexcept { return position_; }

    void skipSpaces() noexcept
    {
        while (position_ < text_.size() && isRegexSpace(text_[position_])) {
            ++position_;
        }
    }

    bool consume(std::string_view literal) noexcept
    {
        if (text_.substr(position_).starts_with(literal)) {
            position_ += literal.size();
            return true;
        }
        return false;
    }

    // \s* literal \s*
    bool consumeSpaced(std::string_view literal) noexcept
    {
        skipSpaces();
        if (!consume(literal)) {
            return false;
        }
        skipSpaces();
        return true;
    }

    // \d+ (greedy; nothing after a digit run can start with a digit)
    std::optional<std::string_view> digits() noexcept
    {
        const std::size_t start = position_;
        while (position_ < text_.size() && isDigit(text_[position_])) {
            ++position_;
        }
        if (position_ == start) {
            return std::nullopt;
        }
        return text_.substr(start, position_ - start);
    }

    // "([^"]*)"
    std::optional<std::string_view> quotedRaw() noexcept
    {
        if (!consume("\"")) {
            return std::nullopt;
        }
        const std::size_t closing = text_.find('"', position_);
        if (closing == std::string_view::npos) {
            position_ = text_.size();
            return std::nullopt;
        }
        const std::string_view value = text_.substr(position_, closing - position_);
        position_ = closing + 1;
        return value;
    }

private:
    std::string_view text_;
    std::size_t position_ = 0;
};

std::string quotedKey(std::string_view key)
{
    std::string needle;
    needle.reserve(key.size() + 2);
    needle += '"';
    needle += key;
    needle += '"';
    return needle;
}

// The leftmost occurrence of "KEY" at which `tail` matches; every attempt is
// deterministic, so the first success is the leftmost match of the pattern.
template <typename Tail>
auto findKeyed(std::string_view text, std::string_view key, Tail tail)
    -> decltype(tail(std::declval<TextCursor&>()))
{
    const std::string needle = quotedKey(key);
    std::size_t from = 0;
    while (true) {
        const std::size_t at = text.find(needle, from);
        if (at == std::string_view::npos) {
            return std::nullopt;
        }
        TextCursor cursor(text, at + needle.size());
        if (cursor.consumeSpaced(":")) {
            if (auto value = tail(cursor)) {
                return value;
            }
        }
        from = at + 1;
    }
}

std::optional<PictureEntryMatch> matchPictureEntryAt(TextCursor& cursor) noexcept
{
    PictureEntryMatch match;
    if (!cursor.consume("{") || !cursor.consumeSpaced(kHighKey) || !cursor.consumeSpaced(":")) {
        return std::nullopt;
    }
    auto high = cursor.digits();
    if (!high || !cursor.consumeSpaced(",") || !cursor.consume(kLowKey) ||
        !cursor.consumeSpaced(":")) {
        return std::nullopt;
    }
    auto low = cursor.digits();
    if (!low || !cursor.consumeSpaced(",") || !cursor.consume(kPathKey) ||
        !cursor.consumeSpaced(":")) {
        return std::nullopt;
    }
    auto path = cursor.quotedRaw();
    cursor.skipSpaces();
    if (!path || !cursor.consume("}")) {
        return std::nullopt;
    }
    match.highDigits = *high;
    match.lowDigits = *low;
    match.path = *path;
    return match;
}

}  // namespace

std::optional<std::string_view> findStringField(std::string_view text, std::string_view key)
{
    return findKeyed(text, key, [](TextCursor& cursor) { return cursor.quotedRaw(); });
}

std::optional<std::string_view> findNumberDigits(std::string_view text, std::string_view key)
{
    return findKeyed(text, key, [](TextCursor& cursor) { return cursor.digits(); });
}

void forEachPictureEntry(std::string_view text,
                         const std::function<bool(const PictureEntryMatch&)>& visit)
{
    std::size_t from = 0;
    while (true) {
        const std::size_t at = text.find('{', from);
        if (at == std::string_view::npos) {
            return;
        }
        TextCursor cursor(text, at);
        if (const auto match = matchPictureEntryAt(cursor)) {
            if (!visit(*match)) {
                return;
            }
            from = cursor.position();
        } else {
            from = at + 1;
        }
    }
}

std::optional<std::uint64_t> parseDecimalU64(std::string_view digits) noexcept
{
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (const char character : digits) {
        if (!isDigit(character)) {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(character - '0');
        if (value > (kMax - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return digits.empty() ? std::nullopt : std::optional<std::uint64_t>(value);
}

}  // namespace vexilo::analysis::manifestscan
