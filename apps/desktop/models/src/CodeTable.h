#pragma once

#include <QString>

#include <cstdint>
#include <span>
#include <string_view>

namespace vexilo {

struct CodeText {
    std::uint32_t code;
    std::string_view text;
};

// One enumeration table: the listed codes and the text of every other code.
struct CodeTable {
    std::span<const CodeText> entries;
    std::string_view otherwise;
};

inline QString latin1Text(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

inline QString lookUp(const CodeTable& table, std::uint32_t code) {
    for (const CodeText& entry : table.entries) {
        if (entry.code == code) {
            return latin1Text(entry.text);
        }
    }
    return latin1Text(table.otherwise);
}

// H.265's PartMode names, shared by the inspector's and the block panel's tables.
inline constexpr CodeText kPartModeNames[]{{1, "2Nx2N"}, {2, "2NxN"},  {3, "Nx2N"},  {4, "NxN"},
                                           {5, "2NxnU"}, {6, "2NxnD"}, {7, "nLx2N"}, {8, "nRx2N"}};

}  // namespace vexilo
