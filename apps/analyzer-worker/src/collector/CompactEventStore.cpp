#include "collector/CompactEventStore.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexilo::analyzer {
namespace {

constexpr std::size_t kWordBytes = sizeof(std::uint32_t);
constexpr std::size_t kHeadBytes = offsetof(ObserverEventRecord, payloadCopiedSize);
constexpr std::size_t kHeadWords = kHeadBytes / kWordBytes;
constexpr std::size_t kPayloadOffset = offsetof(ObserverEventRecord, payload);
constexpr std::size_t kMaxPayloadWords = sizeof(ObserverEventPayload) / kWordBytes;
constexpr std::size_t kMaxRecordWords = kHeadWords + kMaxPayloadWords;
static_assert(kMaxRecordWords == CompactEventStore::kMaxRecordWords);
constexpr std::size_t kMaskBits = 32;
constexpr std::size_t kMaxMaskWords = (kMaxRecordWords + kMaskBits - 1) / kMaskBits;
constexpr std::size_t kMaxSeiWords = (kSeiPayloadCopyLimit + kWordBytes - 1) / kWordBytes;
static_assert(kHeadBytes % kWordBytes == 0 && kPayloadOffset % kWordBytes == 0 &&
              sizeof(ObserverEventPayload) % kWordBytes == 0);

// Entry layout, in 32-bit words: the entry head, the presence mask, the present words, the
// SEI bytes. The entry head holds the word count (low 16 bits) with the truncation flag
// (bit 16), the SEI byte count, and how many records back the base record lies (0 = this
// record is stored whole).
constexpr std::size_t kEntryHeadWords = 3;
constexpr std::uint32_t kWordCountMask = 0xFFFF;
constexpr std::uint32_t kTruncatedFlag = 0x10000;
constexpr std::size_t kMaxEntryWords = kEntryHeadWords + kMaxMaskWords + kMaxRecordWords + kMaxSeiWords;
static_assert(kMaxEntryWords == CompactEventStore::kMaxEntryWords);

// A whole record every so many of its kind bounds what a difference may drift from, and
// keeps reading any record to at most two decodings.
constexpr std::uint32_t kDifferencesPerBase = 64;
constexpr std::uint64_t kFirstChunkWords = 1024;
constexpr std::uint64_t kLargestChunkWords = std::uint64_t{1} << 18;
constexpr unsigned kChunkShift = 40;
constexpr std::uint64_t kPositionMask = (std::uint64_t{1} << kChunkShift) - 1;
// Offset block 0 holds the first 64 records' offsets, block b >= 1 the next 64 << (b - 1).
constexpr unsigned kFirstOffsetBlockShift = 6;
constexpr std::size_t kOffsetBytes = sizeof(std::uint64_t);
static_assert((std::uint64_t{1} << kFirstOffsetBlockShift) * kOffsetBytes == ChunkArena::kSmallestBlockBytes);
constexpr std::size_t kKindSlots = CompactEventStore::kKindSlots;

std::size_t payloadWordsOf(std::uint32_t kind) noexcept
{
    const std::size_t bytes = std::min<std::size_t>(observerEventMinimumSize(kind), sizeof(ObserverEventPayload));
    return (bytes + kWordBytes - 1) / kWordBytes;
}

std::size_t kindSlotOf(std::uint32_t kind) noexcept
{
    return std::min<std::size_t>(kind, kKindSlots - 1);
}

// A block's payload is the observer's whole event, which repeats what the record's head
// holds: the ordinal, the CTU address and the bounds, which change from one block to the
// next. Those payload words are stored as their difference to the head's, zero when they
// agree, so that a difference to an earlier block carries each change once instead of
// twice: a fifth of a block's storage.
struct MirroredWord {
    std::uint16_t payloadWord;
    std::uint16_t headWord;
};
constexpr std::size_t kMirroredWordsPerBlock = 7;
using BlockMirrors = std::array<MirroredWord, kMirroredWordsPerBlock>;

constexpr MirroredWord mirrored(std::size_t payloadByte, std::size_t headByte) noexcept
{
    return MirroredWord{static_cast<std::uint16_t>(payloadByte / kWordBytes),
                        static_cast<std::uint16_t>(headByte / kWordBytes)};
}

template <typename Layout>
constexpr BlockMirrors blockMirrors() noexcept
{
    constexpr std::size_t ordinal = offsetof(Layout, header) + offsetof(VexiloObserverEventHeader, ordinal);
    constexpr std::size_t bounds = offsetof(Layout, bounds);
    constexpr std::size_t headBounds = offsetof(ObserverEventRecord, bounds);
    static_assert(ordinal % kWordBytes == 0 && bounds % kWordBytes == 0 && sizeof(VexiloObserverBlockBounds) == 16);
    static_assert(bounds + sizeof(VexiloObserverBlockBounds) <= sizeof(Layout));
    return {mirrored(ordinal, offsetof(ObserverEventRecord, ordinal)),
            mirrored(ordinal + kWordBytes, offsetof(ObserverEventRecord, ordinal) + kWordBytes),
            mirrored(offsetof(Layout, ctuAddress), offsetof(ObserverEventRecord, ctuAddress)),
            mirrored(bounds, headBounds),
            mirrored(bounds + kWordBytes, headBounds + kWordBytes),
            mirrored(bounds + 2 * kWordBytes, headBounds + 2 * kWordBytes),
            mirrored(bounds + 3 * kWordBytes, headBounds + 3 * kWordBytes)};
}

constexpr std::array<BlockMirrors, 4> kBlockMirrors{
    blockMirrors<VexiloObserverCtuEvent>(), blockMirrors<VexiloObserverCuEvent>(),
    blockMirrors<VexiloObserverPuEvent>(), blockMirrors<VexiloObserverTuEvent>()};

// Its own inverse: applied to a record's words it stores the repeated words as differences,
// applied to those it gives the record's words back.
void mirrorBlockPayloadOnHead(std::uint32_t kind, std::uint32_t* words) noexcept
{
    if (kind < VEXILO_OBSERVER_EVENT_CTU || kind > VEXILO_OBSERVER_EVENT_TU) {
        return;
    }
    for (const MirroredWord& word : kBlockMirrors[kind - VEXILO_OBSERVER_EVENT_CTU]) {
        words[kHeadWords + word.payloadWord] ^= words[word.headWord];
    }
}

// The record's used words: head first, then the kind's layout.
std::size_t recordWords(const ObserverEventRecord& record, std::uint32_t* words) noexcept
{
    const std::size_t payloadWords = payloadWordsOf(record.kind);
    const auto* bytes = reinterpret_cast<const std::byte*>(&record);
    std::memcpy(words, bytes, kHeadBytes);
    std::memcpy(words + kHeadWords, bytes + kPayloadOffset, payloadWords * kWordBytes);
    mirrorBlockPayloadOnHead(record.kind, words);
    return kHeadWords + payloadWords;
}

void restoreRecord(std::uint32_t* words, std::size_t wordCount, ObserverEventRecord& record) noexcept
{
    auto* bytes = reinterpret_cast<std::byte*>(&record);
    std::memcpy(bytes, words, kHeadBytes);
    mirrorBlockPayloadOnHead(record.kind, words);
    std::memcpy(bytes + kPayloadOffset, words + kHeadWords, (wordCount - kHeadWords) * kWordBytes);
}

// Bit i set when words[i] is not zero, for up to 32 words.
std::uint32_t nonZeroWords(const std::uint32_t* words, std::size_t count) noexcept
{
    std::uint32_t bits = 0;
    std::size_t i = 0;
#if defined(__SSE2__)
    // Four words a step, the comparison's four sign bits being their mask bits: the mask of
    // a block's eighty words was half of what encoding it cost, one word at a time.
    const __m128i zero = _mm_setzero_si128();
    for (; i + 4 <= count; i += 4) {
        const __m128i four = _mm_loadu_si128(reinterpret_cast<const __m128i*>(words + i));
        const int zeroLanes = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(four, zero)));
        bits |= (static_cast<std::uint32_t>(zeroLanes) ^ 0xFu) << i;
    }
#endif
    for (; i < count; ++i) {
        bits |= static_cast<std::uint32_t>(words[i] != 0) << i;
    }
    return bits;
}

std::size_t offsetBlockOf(std::uint64_t index) noexcept
{
    return static_cast<std::size_t>(std::bit_width(index >> kFirstOffsetBlockShift));
}

std::uint64_t offsetBlockStart(std::size_t block) noexcept
{
    return block == 0 ? 0 : std::uint64_t{1} << (kFirstOffsetBlockShift + block - 1);
}

std::uint64_t offsetBlockEntries(std::size_t block) noexcept
{
    return block == 0 ? std::uint64_t{1} << kFirstOffsetBlockShift : offsetBlockStart(block);
}

std::uint64_t nextStoreIdentity() noexcept
{
    static std::atomic<std::uint64_t> next{1};
    return next.fetch_add(1);
}

}  // namespace

CompactEventStore::CompactEventStore(std::shared_ptr<ChunkArena> arena)
    : arena_(arena ? std::move(arena) : std::make_shared<ChunkArena>()), identity_(nextStoreIdentity())
{
}

CompactEventStore::~CompactEventStore()
{
    releaseMemory();
}

// The moved-from store keeps the arena, so that it stays usable.
CompactEventStore::CompactEventStore(CompactEventStore&& other) noexcept : arena_(other.arena_)
{
    takeFrom(other);
}

CompactEventStore& CompactEventStore::operator=(CompactEventStore&& other) noexcept
{
    if (this != &other) {
        releaseMemory();
        arena_ = other.arena_;
        takeFrom(other);
    }
    return *this;
}

void CompactEventStore::takeFrom(CompactEventStore& other) noexcept
{
    chunks_ = std::exchange(other.chunks_, {});
    offsetBlocks_ = std::exchange(other.offsetBlocks_, {});
    size_ = std::exchange(other.size_, 0);
    offsetCapacity_ = std::exchange(other.offsetCapacity_, 0);
    wordsInChunks_ = std::exchange(other.wordsInChunks_, 0);
    // The records and their identity move together; what the moved-from store receives
    // later must not pass for them, neither as a base of an append cache nor as a decoded base.
    identity_ = std::exchange(other.identity_, nextStoreIdentity());
}

void CompactEventStore::releaseMemory() noexcept
{
    for (const Chunk& chunk : chunks_) {
        arena_->give(chunk.words, chunk.capacity * kWordBytes);
    }
    for (std::size_t block = 0; block < offsetBlocks_.size(); ++block) {
        arena_->give(offsetBlocks_[block], offsetBlockEntries(block) * kOffsetBytes);
    }
    std::vector<Chunk>().swap(chunks_);
    std::vector<std::uint64_t*>().swap(offsetBlocks_);
    size_ = 0;
    offsetCapacity_ = 0;
    wordsInChunks_ = 0;
}

void CompactEventStore::pushOffset(std::uint64_t offset)
{
    if (size_ == offsetCapacity_) {
        const std::size_t block = offsetBlocks_.size();
        const std::uint64_t entries = offsetBlockEntries(block);
        offsetBlocks_.reserve(block + 1);
        offsetBlocks_.push_back(static_cast<std::uint64_t*>(arena_->take(entries * kOffsetBytes)));
        offsetCapacity_ += entries;
    }
    const std::size_t block = offsetBlocks_.size() - 1;
    offsetBlocks_[block][size_ - offsetBlockStart(block)] = offset;
    ++size_;
}

std::uint64_t CompactEventStore::offsetAt(std::uint64_t index) const noexcept
{
    const std::size_t block = offsetBlockOf(index);
    return offsetBlocks_[block][index - offsetBlockStart(block)];
}

std::uint32_t* CompactEventStore::reserveWords(std::uint64_t count)
{
    if (chunks_.empty() || chunks_.back().capacity - chunks_.back().used < count) {
        // Chunks grow with the store, so a picture with a handful of blocks costs little and
        // a big one does not pay for many small allocations. Each doubles what the store holds:
        // growing by less left a third less unused, but spread each picture over more chunks,
        // so that the arena's regions emptied later while the document grew, which raised the
        // run's peak and slowed the build more than the smaller storage saved.
        const std::uint64_t capacity = std::clamp(wordsInChunks_, kFirstChunkWords, kLargestChunkWords);
        chunks_.reserve(chunks_.size() + 1);
        Chunk chunk;
        chunk.words = static_cast<std::uint32_t*>(arena_->take(capacity * kWordBytes));
        chunk.capacity = capacity;
        chunks_.push_back(chunk);
        wordsInChunks_ += capacity;
    }
    Chunk& chunk = chunks_.back();
    pushOffset((std::uint64_t{chunks_.size() - 1} << kChunkShift) | chunk.used);
    std::uint32_t* entry = chunk.words + chunk.used;
    chunk.used += count;
    return entry;
}

void CompactEventStore::encode(const ObserverEventRecord& record, AppendCache& cache, std::uint64_t storeKey,
                               Batch& batch)
{
    if (!batch.empty() && batch.storeKey_ != storeKey) {
        discard(batch, cache);
    }
    batch.storeKey_ = storeKey;
    std::array<std::uint32_t, kMaxRecordWords> words;
    const std::size_t wordCount = recordWords(record, words.data());

    Batch::Entry entry;
    const std::uint64_t place = batch.size();
    AppendCache::Base& base = cache.bases[kindSlotOf(record.kind)];
    const bool baseKnown = base.index != kNoBase || base.batchPlace != kNoBase;
    if (base.storeKey == storeKey && baseKnown && base.differences < kDifferencesPerBase) {
        for (std::size_t i = 0; i < wordCount; ++i) {
            words[i] ^= base.words[i];
        }
        entry.baseIndex = base.index;
        entry.basePlace = base.batchPlace;
        ++base.differences;
    } else {
        base.storeKey = storeKey;
        base.index = kNoBase;
        base.batchPlace = place;
        base.differences = 0;
        std::copy_n(words.data(), wordCount, base.words.data());
    }

    // Zero words are left out. The mask is built first, without a branch per word, and
    // then only the present words are visited: a difference has a handful of them.
    std::array<std::uint32_t, kMaxEntryWords> encoded;
    const std::size_t maskWords = (wordCount + kMaskBits - 1) / kMaskBits;
    std::uint32_t* mask = encoded.data() + kEntryHeadWords;
    std::uint32_t* present = mask + maskWords;
    std::size_t presentWords = 0;
    for (std::size_t m = 0; m < maskWords; ++m) {
        const std::size_t first = m * kMaskBits;
        std::uint32_t bits = nonZeroWords(words.data() + first, std::min(kMaskBits, wordCount - first));
        mask[m] = bits;
        for (; bits != 0; bits &= bits - 1) {
            present[presentWords++] = words[first + static_cast<std::size_t>(std::countr_zero(bits))];
        }
    }
    const std::uint32_t seiBytes = std::min<std::uint32_t>(record.payloadCopiedSize, kSeiPayloadCopyLimit);
    const std::size_t seiWords = (seiBytes + kWordBytes - 1) / kWordBytes;
    if (seiWords != 0) {
        std::uint32_t* sei = present + presentWords;
        sei[seiWords - 1] = 0;
        std::memcpy(sei, record.payloadBytes.data(), seiBytes);
    }
    encoded[0] = static_cast<std::uint32_t>(wordCount) | (record.payloadTruncated ? kTruncatedFlag : 0);
    encoded[1] = seiBytes;
    encoded[2] = 0;
    entry.firstWord = batch.words_.size();
    entry.wordCount = kEntryHeadWords + maskWords + presentWords + seiWords;
    batch.words_.insert(batch.words_.end(), encoded.data(), encoded.data() + entry.wordCount);
    batch.entries_.push_back(entry);
}

void CompactEventStore::append(Batch& batch, AppendCache& cache)
{
    const std::uint64_t first = size();
    for (std::size_t place = 0; place < batch.entries_.size(); ++place) {
        const Batch::Entry& entry = batch.entries_[place];
        std::uint32_t* stored = reserveWords(entry.wordCount);
        std::copy_n(batch.words_.data() + entry.firstWord, entry.wordCount, stored);
        const std::uint64_t index = first + place;
        if (entry.baseIndex != kNoBase) {
            stored[2] = static_cast<std::uint32_t>(index - entry.baseIndex);
        } else if (entry.basePlace != kNoBase) {
            stored[2] = static_cast<std::uint32_t>(place - entry.basePlace);
        }
    }
    for (AppendCache::Base& base : cache.bases) {
        if (base.storeKey == batch.storeKey_ && base.batchPlace != kNoBase) {
            base.index = first + base.batchPlace;
            base.batchPlace = kNoBase;
        }
    }
    batch.clear();
}

void CompactEventStore::discard(Batch& batch, AppendCache& cache) noexcept
{
    for (AppendCache::Base& base : cache.bases) {
        if (base.batchPlace != kNoBase) {
            base.storeKey = 0;
            base.index = kNoBase;
            base.batchPlace = kNoBase;
            base.differences = 0;
        }
    }
    batch.clear();
}

void CompactEventStore::append(const ObserverEventRecord& record, AppendCache& cache)
{
    thread_local Batch batch;
    if (!batch.empty()) {
        // Left over from an append that failed part way.
        discard(batch, cache);
    }
    encode(record, cache, identity_, batch);
    append(batch, cache);
}

const std::uint32_t* CompactEventStore::entryWords(std::uint64_t index) const noexcept
{
    const std::uint64_t offset = offsetAt(index);
    return chunks_[offset >> kChunkShift].words + (offset & kPositionMask);
}

void CompactEventStore::decodeWords(std::uint64_t index, std::uint32_t* words) const noexcept
{
    const std::uint32_t* entry = entryWords(index);
    const std::size_t wordCount = entry[0] & kWordCountMask;
    const std::uint32_t baseDistance = entry[2];
    if (baseDistance != 0) {
        copyBaseWords(index - baseDistance, words);
    } else {
        std::fill_n(words, wordCount, 0u);
    }
    const std::size_t maskWords = (wordCount + kMaskBits - 1) / kMaskBits;
    const std::uint32_t* mask = entry + kEntryHeadWords;
    const std::uint32_t* present = mask + maskWords;
    for (std::size_t m = 0; m < maskWords; ++m) {
        for (std::uint32_t bits = mask[m]; bits != 0; bits &= bits - 1) {
            const std::size_t i = m * kMaskBits + static_cast<std::size_t>(std::countr_zero(bits));
            words[i] ^= *present++;
        }
    }
}

// Up to 64 differences in a row lie on one base, and readers go through a store nearly in
// order, a kind at a time: each thread keeps the last base it decoded of each kind, so that
// reading a difference copies its base instead of decoding it again. A key names the store's
// contents (a cleared or moved-from store takes a new identity), so a base is never taken
// from another store or from what a store held before.
void CompactEventStore::copyBaseWords(std::uint64_t baseIndex, std::uint32_t* words) const noexcept
{
    struct DecodedBase {
        std::uint64_t storeIdentity = 0;
        std::uint64_t index = 0;
        std::size_t wordCount = 0;
        std::array<std::uint32_t, kMaxRecordWords> words{};
    };
    // Block kinds fall in slots of their own; the rare stream kinds may share one.
    static constexpr std::size_t kDecodedBaseSlots = 8;
    constinit thread_local std::array<DecodedBase, kDecodedBaseSlots> decodedBases{};

    const std::uint32_t* base = entryWords(baseIndex);
    if (base[2] != 0) {
        // Bases are stored whole; a chain is decoded the long way.
        decodeWords(baseIndex, words);
        return;
    }
    DecodedBase& slot = decodedBases[kindAt(baseIndex) % kDecodedBaseSlots];
    if (slot.storeIdentity != identity_ || slot.index != baseIndex) {
        slot.storeIdentity = identity_;
        slot.index = baseIndex;
        slot.wordCount = base[0] & kWordCountMask;
        decodeWords(baseIndex, slot.words.data());
    }
    std::copy_n(slot.words.data(), slot.wordCount, words);
}

// One word of decodeWords' result.
std::uint32_t CompactEventStore::decodeWord(std::uint64_t index, std::size_t word) const noexcept
{
    const std::uint32_t* entry = entryWords(index);
    const std::size_t wordCount = entry[0] & kWordCountMask;
    const std::uint32_t baseDistance = entry[2];
    const std::uint32_t base = baseDistance != 0 ? decodeWord(index - baseDistance, word) : 0u;
    if (word >= wordCount) {
        return base;
    }
    const std::size_t maskWords = (wordCount + kMaskBits - 1) / kMaskBits;
    const std::uint32_t* mask = entry + kEntryHeadWords;
    const std::size_t maskWord = word / kMaskBits;
    const std::uint32_t bit = std::uint32_t{1} << (word % kMaskBits);
    if ((mask[maskWord] & bit) == 0) {
        return base;
    }
    std::size_t presentBefore = static_cast<std::size_t>(std::popcount(mask[maskWord] & (bit - 1)));
    for (std::size_t m = 0; m < maskWord; ++m) {
        presentBefore += static_cast<std::size_t>(std::popcount(mask[m]));
    }
    return base ^ mask[maskWords + presentBefore];
}

std::uint32_t CompactEventStore::kindAt(std::uint64_t index) const noexcept
{
    return decodeWord(index, offsetof(ObserverEventRecord, kind) / kWordBytes);
}

ObserverEventRecord CompactEventStore::at(std::uint64_t index) const
{
    ObserverEventRecord record;
    readInto(index, record);
    return record;
}

void CompactEventStore::readInto(std::uint64_t index, ObserverEventRecord& record) const
{
    const std::uint32_t* entry = entryWords(index);
    const std::size_t wordCount = entry[0] & kWordCountMask;
    std::array<std::uint32_t, kMaxRecordWords> words;
    decodeWords(index, words.data());

    restoreRecord(words.data(), wordCount, record);
    record.payloadTruncated = (entry[0] & kTruncatedFlag) != 0;
    record.payloadCopiedSize = entry[1];
    if (entry[1] != 0) {
        const std::size_t maskWords = (wordCount + kMaskBits - 1) / kMaskBits;
        std::size_t presentWords = 0;
        for (std::size_t m = 0; m < maskWords; ++m) {
            presentWords += static_cast<std::size_t>(std::popcount(entry[kEntryHeadWords + m]));
        }
        std::memcpy(record.payloadBytes.data(), entry + kEntryHeadWords + maskWords + presentWords, entry[1]);
    }
}

std::uint64_t CompactEventStore::bytesUsed() const noexcept
{
    return wordsInChunks_ * kWordBytes + offsetCapacity_ * kOffsetBytes;
}

std::uint64_t CompactEventStore::wordsWritten() const noexcept
{
    std::uint64_t words = 0;
    for (const Chunk& chunk : chunks_) {
        words += chunk.used;
    }
    return words;
}

void CompactEventStore::clear() noexcept
{
    releaseMemory();
    identity_ = nextStoreIdentity();
}

namespace {

void pushWide(std::vector<std::uint32_t>& image, std::uint64_t value)
{
    image.push_back(static_cast<std::uint32_t>(value));
    image.push_back(static_cast<std::uint32_t>(value >> 32));
}

// Reads the image front to back; a read past its end leaves it failed.
class ImageReader {
public:
    explicit ImageReader(std::span<const std::uint32_t> image) : image_(image) {}

    std::uint64_t wide()
    {
        if (image_.size() - position_ < 2) {
            failed_ = true;
            return 0;
        }
        const std::uint64_t value = image_[position_] | (std::uint64_t{image_[position_ + 1]} << 32);
        position_ += 2;
        return value;
    }

    std::span<const std::uint32_t> words(std::uint64_t count)
    {
        if (image_.size() - position_ < count) {
            failed_ = true;
            return {};
        }
        const std::span<const std::uint32_t> words = image_.subspan(position_, static_cast<std::size_t>(count));
        position_ += static_cast<std::size_t>(count);
        return words;
    }

    [[nodiscard]] bool failed() const noexcept { return failed_; }
    [[nodiscard]] bool atEnd() const noexcept { return position_ == image_.size(); }

private:
    std::span<const std::uint32_t> image_;
    std::size_t position_ = 0;
    bool failed_ = false;
};

}  // namespace

void CompactEventStore::saveImage(std::vector<std::uint32_t>& image) const
{
    pushWide(image, size_);
    pushWide(image, chunks_.size());
    for (const Chunk& chunk : chunks_) {
        pushWide(image, chunk.used);
        image.insert(image.end(), chunk.words, chunk.words + chunk.used);
    }
    for (std::uint64_t index = 0; index < size_; ++index) {
        pushWide(image, offsetAt(index));
    }
}

bool CompactEventStore::restore(std::span<const std::uint32_t> image)
{
    clear();
    ImageReader reader(image);
    const std::uint64_t records = reader.wide();
    const std::uint64_t chunkCount = reader.wide();
    for (std::uint64_t chunk = 0; chunk < chunkCount && !reader.failed(); ++chunk) {
        const std::span<const std::uint32_t> words = reader.words(reader.wide());
        if (reader.failed() || words.empty()) {
            break;
        }
        Chunk restored;
        restored.words = static_cast<std::uint32_t*>(arena_->take(words.size() * kWordBytes));
        restored.capacity = words.size();
        restored.used = words.size();
        std::copy(words.begin(), words.end(), restored.words);
        chunks_.push_back(restored);
        wordsInChunks_ += restored.capacity;
    }
    for (std::uint64_t index = 0; index < records && !reader.failed(); ++index) {
        const std::uint64_t offset = reader.wide();
        const std::uint64_t chunk = offset >> kChunkShift;
        if (reader.failed() || chunk >= chunks_.size() || (offset & kPositionMask) >= chunks_[chunk].used) {
            break;
        }
        pushOffset(offset);
    }
    if (reader.failed() || !reader.atEnd() || size_ != records || chunks_.size() != chunkCount) {
        clear();
        return false;
    }
    return true;
}

static_assert(kMaxEntryWords <= kLargestChunkWords, "an entry always fits in one chunk");

}  // namespace vexilo::analyzer
