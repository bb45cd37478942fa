#pragma once

#include "ValidationTestDocument.h"

#include <cstdint>
#include <tuple>
#include <type_traits>

namespace vexilo::analysis::codec_test {

// The valid document's blocks repeated on a grid of CTUs, every collection of them large
// enough to be decoded on a thread of its own.
inline StreamAnalysis documentWithManyBlocks(std::uint32_t ctusPerRow)
{
    StreamAnalysis document = validation_test::makeValidDocument();
    const std::uint32_t side = ctusPerRow * 64;
    document.width = side;
    document.height = side;
    document.pictures.front().width = side;
    document.pictures.front().height = side;
    for (ParameterSetInfo& set : document.parameterSets) {
        if (set.kind == ParameterSetKind::Sps) {
            set.width = side;
            set.height = side;
        }
    }
    const auto oneCtu = std::tuple{document.ctus, document.cus, document.pus, document.tus, document.motionVectors};
    document.ctus.clear();
    document.cus.clear();
    document.pus.clear();
    document.tus.clear();
    document.motionVectors.clear();
    for (std::uint64_t ctu = 0; ctu < std::uint64_t{ctusPerRow} * ctusPerRow; ++ctu) {
        const auto x = static_cast<std::int32_t>(ctu % ctusPerRow * 64);
        const auto y = static_cast<std::int32_t>(ctu / ctusPerRow * 64);
        const auto renamed = [ctu](StableId id) { return StableId{id.high, (ctu << 8) | id.low}; };
        const auto rename = [&](auto& reference) {
            if constexpr (std::is_same_v<std::decay_t<decltype(reference)>, StableId>) {
                reference = renamed(reference);
            } else if (reference) {
                reference = renamed(*reference);
            }
        };
        const auto appendPlaced = [&](const auto& source, auto& target) {
            for (auto record : source) {
                rename(record.id);
                if constexpr (requires { record.parentCtuId; }) {
                    rename(record.parentCtuId);
                }
                if constexpr (requires { record.parentCuId; }) {
                    rename(record.parentCuId);
                }
                if constexpr (requires { record.parentTuId; }) {
                    rename(record.parentTuId);
                }
                if constexpr (requires { record.parentPuId; }) {
                    rename(record.parentPuId);
                }
                if constexpr (requires { record.bounds; }) {
                    record.bounds.x += x;
                    record.bounds.y += y;
                }
                target.push_back(record);
            }
        };
        const auto& [ctus, cus, pus, tus, vectors] = oneCtu;
        appendPlaced(ctus, document.ctus);
        appendPlaced(cus, document.cus);
        appendPlaced(pus, document.pus);
        appendPlaced(tus, document.tus);
        appendPlaced(vectors, document.motionVectors);
    }
    return document;
}

}  // namespace vexilo::analysis::codec_test
