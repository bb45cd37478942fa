#pragma once

#include "observer/ObserverEventRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vexilo::analyzer {

// An append-only list of observer event records kept in a small fraction of their
// 2048-byte form. Only the bytes a record's kind uses are stored: the record's head, the
// copied SEI bytes and the kind's own layout. Those bytes are stored as 32-bit words with a
// presence mask, zero words left out, and most records as the difference to an earlier
// record of the same kind: consecutive CUs, PUs or TUs share their slice, picture, masks and
// most values, so what remains of them is a few dozen bytes.
class CompactEventStore {
public:
    static constexpr std::size_t kMaxRecordWords =
        (offsetof(ObserverEventRecord, payloadCopiedSize) + sizeof(ObserverEventPayload)) / sizeof(std::uint32_t);
    static constexpr std::size_t kKindSlots = VEXILO_OBSERVER_EVENT_KIND_COUNT + 2;

    // The whole records that later ones are stored as differences to, kept decoded between
    // appends so that an append never decodes. One cache may serve appends to any number of
    // stores: it knows which store's record it holds.
    struct AppendCache {
        struct Base {
            std::uint64_t store = 0;
            std::uint64_t index = 0;
            std::array<std::uint32_t, kMaxRecordWords> words{};
        };
        std::array<Base, kKindSlots> bases{};
    };

    CompactEventStore();
    CompactEventStore(CompactEventStore&&) noexcept = default;
    CompactEventStore& operator=(CompactEventStore&&) noexcept = default;
    CompactEventStore(const CompactEventStore&) = delete;
    CompactEventStore& operator=(const CompactEventStore&) = delete;

    void append(const ObserverEventRecord& record, AppendCache& cache);
    [[nodiscard]] std::uint64_t size() const noexcept { return offsets_.size(); }
    // The index-th record as it was appended; the index must be below size().
    [[nodiscard]] ObserverEventRecord at(std::uint64_t index) const;
    // The same into a record that may be reused: what the record's kind uses is written,
    // the rest is left as it was.
    void readInto(std::uint64_t index, ObserverEventRecord& record) const;
    // Memory held: the words written, the index, and the chunk space not yet used.
    [[nodiscard]] std::uint64_t bytesUsed() const noexcept;
    void reserve(std::uint64_t records) { offsets_.reserve(records); }
    // Gives all memory back.
    void clear() noexcept;

private:
    struct Chunk {
        std::unique_ptr<std::uint32_t[]> words;
        std::uint64_t capacity = 0;
        std::uint64_t used = 0;
    };

    [[nodiscard]] std::uint32_t* reserveWords(std::uint64_t count);
    [[nodiscard]] const std::uint32_t* entryWords(std::uint64_t index) const noexcept;
    void decodeWords(std::uint64_t index, std::uint32_t* words) const noexcept;

    std::vector<Chunk> chunks_;
    // Per record: chunk number in the high 24 bits, word position in the low 40.
    std::vector<std::uint64_t> offsets_;
    // Per kind: the last record stored whole, and how many differences refer to it.
    std::vector<std::uint64_t> baseOfKind_;
    std::vector<std::uint32_t> differencesOfKind_;
    std::uint64_t wordsInChunks_ = 0;
    // Tells this store's records apart from another's in an AppendCache; a cleared store
    // gets a new one.
    std::uint64_t identity_ = 0;
};

}  // namespace vexilo::analyzer
