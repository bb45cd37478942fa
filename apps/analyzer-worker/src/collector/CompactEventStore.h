#pragma once

#include "collector/ChunkArena.h"
#include "observer/ObserverEventRecord.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
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

    // Room for one encoded entry: its head, presence mask, present words and SEI bytes.
    static constexpr std::size_t kMaxEntryWords =
        3 + (kMaxRecordWords + 31) / 32 + kMaxRecordWords + (kSeiPayloadCopyLimit + 3) / 4;
    static constexpr std::uint64_t kNoBase = ~std::uint64_t{0};

    // The whole records that later ones are stored as differences to, per kind, kept
    // decoded so that encoding never decodes. Each appending thread has its own: a base
    // is a record this cache encoded whole, in the store named by the key the caller
    // gave, so encoding needs nothing of the store and can run outside its lock.
    struct AppendCache {
        struct Base {
            std::uint64_t storeKey = 0;
            // Where the record is in its store once appended, and in the open batch until then.
            std::uint64_t index = kNoBase;
            std::uint64_t batchPlace = kNoBase;
            std::uint32_t differences = 0;
            std::array<std::uint32_t, kMaxRecordWords> words{};
        };
        std::array<Base, kKindSlots> bases{};
    };

    // Records encoded for one store and appended to it in one piece, so that they may
    // refer to each other by their place in the batch.
    class Batch {
    public:
        [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }
        [[nodiscard]] bool empty() const noexcept { return entries_.empty(); }

    private:
        friend class CompactEventStore;
        struct Entry {
            std::size_t firstWord = 0;
            std::size_t wordCount = 0;
            std::uint64_t baseIndex = kNoBase;
            std::uint64_t basePlace = kNoBase;
        };
        void clear() noexcept
        {
            words_.clear();
            entries_.clear();
        }

        std::uint64_t storeKey_ = 0;
        std::vector<std::uint32_t> words_;
        std::vector<Entry> entries_;
    };

    // Encodes the record into the batch, for the store that `storeKey` names. One key per
    // store and cache: the store the cache's bases came from must still hold them, so a
    // cleared store needs a new key unless it never receives records again. A batch holds
    // records of one store: a record for another store first discards the batch.
    static void encode(const ObserverEventRecord& record, AppendCache& cache, std::uint64_t storeKey, Batch& batch);
    // Appends the batch encoded for this store in one piece and empties it; its whole
    // records become bases for the cache's later batches.
    void append(Batch& batch, AppendCache& cache);
    // Empties a batch that is not appended; the cache forgets the bases it set from it.
    static void discard(Batch& batch, AppendCache& cache) noexcept;

    // Stores may share an arena; a store given none makes its own.
    explicit CompactEventStore(std::shared_ptr<ChunkArena> arena = nullptr);
    ~CompactEventStore();
    CompactEventStore(CompactEventStore&& other) noexcept;
    CompactEventStore& operator=(CompactEventStore&& other) noexcept;
    CompactEventStore(const CompactEventStore&) = delete;
    CompactEventStore& operator=(const CompactEventStore&) = delete;

    // Encodes and appends in one go, with the store's own key.
    void append(const ObserverEventRecord& record, AppendCache& cache);
    [[nodiscard]] std::uint64_t size() const noexcept { return size_; }
    // The index-th record as it was appended; the index must be below size().
    [[nodiscard]] ObserverEventRecord at(std::uint64_t index) const;
    // The same into a record that may be reused: what the record's kind uses is written,
    // the rest is left as it was.
    void readInto(std::uint64_t index, ObserverEventRecord& record) const;
    // The kind of the index-th record, without reading the rest of it.
    [[nodiscard]] std::uint32_t kindAt(std::uint64_t index) const noexcept;
    // Memory held: the words written, the index, and the chunk space not yet used.
    [[nodiscard]] std::uint64_t bytesUsed() const noexcept;
    // The words the records' entries take.
    [[nodiscard]] std::uint64_t wordsWritten() const noexcept;
    // Gives all memory back.
    void clear() noexcept;

    // The records as words that `restore` turns back into a store holding the same records,
    // so that a store can wait outside memory: the record count, the chunk count, each
    // chunk's length and words, then every record's offset in two words.
    void saveImage(std::vector<std::uint32_t>& image) const;
    // Replaces what the store holds with the records of an image saveImage made; false (and an
    // empty store) for words that are not such an image.
    [[nodiscard]] bool restore(std::span<const std::uint32_t> image);

private:
    struct Chunk {
        std::uint32_t* words = nullptr;
        std::uint64_t capacity = 0;
        std::uint64_t used = 0;
    };

    [[nodiscard]] std::uint32_t* reserveWords(std::uint64_t count);
    [[nodiscard]] const std::uint32_t* entryWords(std::uint64_t index) const noexcept;
    void decodeWords(std::uint64_t index, std::uint32_t* words) const noexcept;
    void copyBaseWords(std::uint64_t baseIndex, std::uint32_t* words) const noexcept;
    [[nodiscard]] std::uint32_t decodeWord(std::uint64_t index, std::size_t word) const noexcept;
    void pushOffset(std::uint64_t offset);
    [[nodiscard]] std::uint64_t offsetAt(std::uint64_t index) const noexcept;
    void releaseMemory() noexcept;
    void takeFrom(CompactEventStore& other) noexcept;

    std::shared_ptr<ChunkArena> arena_;
    std::vector<Chunk> chunks_;
    // Per record: chunk number in the high 24 bits, word position in the low 40. They are
    // kept in blocks that double in size, so that growing never copies them.
    std::vector<std::uint64_t*> offsetBlocks_;
    std::uint64_t size_ = 0;
    std::uint64_t offsetCapacity_ = 0;
    std::uint64_t wordsInChunks_ = 0;
    // The key append(record, cache) encodes with; a cleared store gets a new one.
    std::uint64_t identity_ = 0;
};

}  // namespace vexilo::analyzer
