// A libvmaf stand-in for the tests: same entry points and layouts, a score made from the
// mean absolute luma difference and a motion feature made from consecutive reference
// frames (as libvmaf's motion2 is), and enough bookkeeping to catch a caller that leaks,
// releases twice, or uses an object it does not own.
#include "VmafAbi.h"
#include "VmafStandInControl.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

using namespace vexilo::media::vmaf_abi;

#define STAND_IN_EXPORT __attribute__((visibility("default")))

// The opaque libvmaf objects, given a body of the stand-in's own.
// What one read pair left for scoring: its mean absolute luma difference and the mean
// absolute difference of its reference luma from the previous read reference (0 first).
struct ReadPair {
    double difference = 0.0;
    double motion = 0.0;
    double peak = 255.0;
};

// A picture's luma rows without their padding, as the motion of the next pair needs them.
struct LumaCopy {
    std::vector<std::uint8_t> bytes;
    unsigned width = 0;
    unsigned height = 0;
    unsigned bpc = 8;
};

struct vexilo::media::vmaf_abi::VmafContext {
    std::vector<std::unique_ptr<std::uint8_t[]>> heldPictures;
    std::map<unsigned, ReadPair> pairs;  // by picture index
    LumaCopy previousReference;
    bool flushed = false;
};

struct vexilo::media::vmaf_abi::VmafModel {
    std::string name;
};

namespace {

constexpr unsigned kAlignment = 32;

struct FeatureRule {
    const char* name;
    double weight;  // feature = max(0, 1 − weight × difference / peak)
};
constexpr FeatureRule kFeatureRules[] = {
    {"VMAF_integer_feature_adm2_score", 1.0},       {"VMAF_integer_feature_vif_scale0_score", 2.0},
    {"VMAF_integer_feature_vif_scale1_score", 3.0}, {"VMAF_integer_feature_vif_scale2_score", 4.0},
    {"VMAF_integer_feature_vif_scale3_score", 5.0},
};
constexpr const char* kMotionFeature = "VMAF_integer_feature_motion2_score";

struct StandInState {
    std::mutex mutex;
    std::set<const VmafContext*> contexts;
    std::set<const VmafModel*> models;
    std::set<const void*> pictures;  // buffers allocated and not yet released
    long misuse = 0;
    std::map<std::string, int> failing;
    std::vector<std::string> calls;
    VexiloVmafStandInLastCall last{};
    VexiloVmafStandInInitHook initHook = nullptr;
    void* initHookData = nullptr;
};

StandInState& state() {
    static StandInState instance;
    return instance;
}

// Records the call and answers the failure code switched on for it, if any.
std::optional<int> enter(StandInState& s, const char* function) {
    s.calls.emplace_back(function);
    const auto found = s.failing.find(function);
    return found == s.failing.end() ? std::nullopt : std::optional<int>(found->second);
}

void copyText(char* target, std::size_t capacity, const char* text) {
    std::strncpy(target, text != nullptr ? text : "", capacity - 1);
    target[capacity - 1] = '\0';
}

unsigned aligned(unsigned bytes) {
    return (bytes + kAlignment - 1) / kAlignment * kAlignment;
}

bool chromaSize(VmafPixelFormat format, unsigned w, unsigned h, unsigned& cw, unsigned& ch) {
    switch (format) {
    case VmafPixelFormatYuv420P:
        cw = (w + 1) / 2;
        ch = (h + 1) / 2;
        return true;
    case VmafPixelFormatYuv422P:
        cw = (w + 1) / 2;
        ch = h;
        return true;
    case VmafPixelFormatYuv444P:
        cw = w;
        ch = h;
        return true;
    default:
        return false;
    }
}

unsigned lumaSample(const std::uint8_t* row, unsigned x, unsigned bpc) {
    if (bpc <= 8) {
        return row[x];
    }
    return static_cast<unsigned>(row[2 * x]) | (static_cast<unsigned>(row[2 * x + 1]) << 8U);
}

std::size_t lumaRowBytes(const VmafPicture& picture) {
    return static_cast<std::size_t>(picture.w[0]) * (picture.bpc > 8 ? 2 : 1);
}

const std::uint8_t* lumaRow(const VmafPicture& picture, unsigned y) {
    return static_cast<const std::uint8_t*>(picture.data[0]) + static_cast<std::ptrdiff_t>(y) * picture.stride[0];
}

LumaCopy copyLuma(const VmafPicture& picture) {
    LumaCopy copy{{}, picture.w[0], picture.h[0], picture.bpc};
    const std::size_t rowBytes = lumaRowBytes(picture);
    copy.bytes.resize(rowBytes * picture.h[0]);
    for (unsigned y = 0; y < picture.h[0]; ++y) {
        std::memcpy(copy.bytes.data() + rowBytes * y, lumaRow(picture, y), rowBytes);
    }
    return copy;
}

// Mean absolute difference of two lumas given row by row; 0 when their shapes differ.
template <typename RowA, typename RowB>
double meanAbsoluteDifference(unsigned width, unsigned height, unsigned bpc, RowA rowA, RowB rowB) {
    double sum = 0.0;
    for (unsigned y = 0; y < height; ++y) {
        const std::uint8_t* a = rowA(y);
        const std::uint8_t* b = rowB(y);
        long rowSum = 0;
        for (unsigned x = 0; x < width; ++x) {
            rowSum += std::labs(static_cast<long>(lumaSample(a, x, bpc)) - static_cast<long>(lumaSample(b, x, bpc)));
        }
        sum += static_cast<double>(rowSum);
    }
    return sum / (static_cast<double>(width) * static_cast<double>(height));
}

// Reads one pair as libvmaf does: its own difference now, its motion against the reference
// read before it.
void readPair(VmafContext& context, const VmafPicture& reference, const VmafPicture& distorted, unsigned index) {
    const unsigned width = reference.w[0];
    const unsigned height = reference.h[0];
    ReadPair pair;
    pair.difference = meanAbsoluteDifference(
        width, height, reference.bpc, [&](unsigned y) { return lumaRow(reference, y); },
        [&](unsigned y) { return lumaRow(distorted, y); });
    const LumaCopy& previous = context.previousReference;
    if (previous.width == width && previous.height == height && previous.bpc == reference.bpc) {
        const std::size_t rowBytes = lumaRowBytes(reference);
        pair.motion = meanAbsoluteDifference(
            width, height, reference.bpc, [&](unsigned y) { return lumaRow(reference, y); },
            [&](unsigned y) { return previous.bytes.data() + rowBytes * y; });
    }
    pair.peak = static_cast<double>((1U << reference.bpc) - 1U);
    context.pairs[index] = pair;
    context.previousReference = copyLuma(reference);
}

// Moves a picture's buffer into the context, as libvmaf takes ownership on reading.
void takePicture(VmafContext& context, VmafPicture& picture) {
    context.heldPictures.emplace_back(static_cast<std::uint8_t*>(picture.priv));
    picture = VmafPicture{};
}

bool samePictureShape(const VmafPicture& a, const VmafPicture& b) {
    return a.pix_fmt == b.pix_fmt && a.bpc == b.bpc && a.w[0] == b.w[0] && a.h[0] == b.h[0];
}

int loadModel(const char* function, VmafModel** model, VmafModelConfig* configuration, const char* argument) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    copyText(s.last.modelName, sizeof s.last.modelName, configuration != nullptr ? configuration->name : nullptr);
    s.last.modelFlags = configuration != nullptr ? configuration->flags : 0;
    copyText(s.last.modelArgument, sizeof s.last.modelArgument, argument);
    if (const auto code = enter(s, function)) {
        return *code;
    }
    if (model == nullptr || argument == nullptr) {
        return -EINVAL;
    }
    *model = new VmafModel{argument};
    s.models.insert(*model);
    return 0;
}

// A scored pair's values: its difference relative to the peak, and motion2, the smaller
// of its own motion and the next pair's (its own for the last pair), in samples.
struct ScoredPair {
    double relativeDifference = 0.0;
    double motion2 = 0.0;
    double peak = 255.0;
};

std::optional<ScoredPair> scoredPair(const VmafContext* context, unsigned index) {
    if (context == nullptr || !context->flushed) {
        return std::nullopt;
    }
    const auto found = context->pairs.find(index);
    if (found == context->pairs.end()) {
        return std::nullopt;
    }
    const ReadPair& pair = found->second;
    const auto next = context->pairs.find(index + 1);
    const double motion2 = next == context->pairs.end() ? pair.motion : std::min(pair.motion, next->second.motion);
    return ScoredPair{pair.difference / pair.peak, motion2, pair.peak};
}

}  // namespace

extern "C" {

STAND_IN_EXPORT int vmaf_init(VmafContext** context, VmafConfiguration configuration) {
    StandInState& s = state();
    VexiloVmafStandInInitHook hook = nullptr;
    void* hookData = nullptr;
    {
        const std::lock_guard lock(s.mutex);
        hook = s.initHook;
        hookData = s.initHookData;
    }
    if (hook != nullptr) {
        hook(hookData);  // outside the lock, so that the hook may use the controls
    }
    const std::lock_guard lock(s.mutex);
    s.last.logLevel = configuration.log_level;
    s.last.threadCount = configuration.n_threads;
    s.last.subsample = configuration.n_subsample;
    s.last.cpuMask = configuration.cpumask;
    s.last.gpuMask = configuration.gpumask;
    if (const auto code = enter(s, "vmaf_init")) {
        return *code;
    }
    if (context == nullptr) {
        return -EINVAL;
    }
    *context = new VmafContext();
    s.contexts.insert(*context);
    return 0;
}

STAND_IN_EXPORT int vmaf_close(VmafContext* context) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    const auto code = enter(s, "vmaf_close");
    if (s.contexts.erase(context) == 0) {
        ++s.misuse;
        return -EINVAL;
    }
    for (const auto& buffer : context->heldPictures) {
        s.pictures.erase(buffer.get());
    }
    delete context;
    return code.value_or(0);
}

STAND_IN_EXPORT int vmaf_model_load(VmafModel** model, VmafModelConfig* configuration,
                                                           const char* version) {
    return loadModel("vmaf_model_load", model, configuration, version);
}

STAND_IN_EXPORT int vmaf_model_load_from_path(VmafModel** model,
                                                                     VmafModelConfig* configuration,
                                                                     const char* path) {
    return loadModel("vmaf_model_load_from_path", model, configuration, path);
}

STAND_IN_EXPORT void vmaf_model_destroy(VmafModel* model) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    static_cast<void>(enter(s, "vmaf_model_destroy"));
    if (s.models.erase(model) == 0) {
        ++s.misuse;
        return;
    }
    delete model;
}

STAND_IN_EXPORT int vmaf_use_features_from_model(VmafContext* context, VmafModel* model) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    if (const auto code = enter(s, "vmaf_use_features_from_model")) {
        return *code;
    }
    if (s.contexts.count(context) == 0 || s.models.count(model) == 0) {
        ++s.misuse;
        return -EINVAL;
    }
    return 0;
}

STAND_IN_EXPORT int vmaf_picture_alloc(VmafPicture* picture, VmafPixelFormat format,
                                                              unsigned bpc, unsigned w, unsigned h) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    s.last.pixelFormat = format;
    s.last.bitsPerComponent = bpc;
    s.last.width = w;
    s.last.height = h;
    if (const auto code = enter(s, "vmaf_picture_alloc")) {
        return *code;
    }
    unsigned cw = 0;
    unsigned ch = 0;
    if (picture == nullptr || bpc < 8 || bpc > 16 || w == 0 || h == 0 || !chromaSize(format, w, h, cw, ch)) {
        return -EINVAL;
    }
    const unsigned bytes = bpc > 8 ? 2 : 1;
    *picture = VmafPicture{};
    picture->pix_fmt = format;
    picture->bpc = bpc;
    const unsigned widths[] = {w, cw, cw};
    const unsigned heights[] = {h, ch, ch};
    std::size_t offsets[kVmafPictureComponents] = {};
    std::size_t total = 0;
    for (std::size_t c = 0; c < kVmafPictureComponents; ++c) {
        picture->w[c] = widths[c];
        picture->h[c] = heights[c];
        picture->stride[c] = aligned(widths[c] * bytes);
        offsets[c] = total;
        total += static_cast<std::size_t>(picture->stride[c]) * heights[c];
    }
    auto* buffer = new std::uint8_t[total];  // uninitialised, as libvmaf leaves it
    for (std::size_t c = 0; c < kVmafPictureComponents; ++c) {
        picture->data[c] = buffer + offsets[c];
    }
    picture->priv = buffer;
    s.pictures.insert(buffer);
    return 0;
}

STAND_IN_EXPORT int vmaf_picture_unref(VmafPicture* picture) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    const auto code = enter(s, "vmaf_picture_unref");
    if (picture == nullptr || s.pictures.erase(picture->priv) == 0) {
        ++s.misuse;
        return -EINVAL;
    }
    delete[] static_cast<std::uint8_t*>(picture->priv);
    *picture = VmafPicture{};
    return code.value_or(0);
}

STAND_IN_EXPORT int vmaf_read_pictures(VmafContext* context, VmafPicture* reference,
                                                              VmafPicture* distorted, unsigned index) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    const bool flush = reference == nullptr && distorted == nullptr;
    const auto code = enter(s, flush ? "vmaf_read_pictures flush" : "vmaf_read_pictures");
    if (s.contexts.count(context) == 0) {
        ++s.misuse;
        return -EINVAL;
    }
    if (flush) {
        context->flushed = true;
        return code.value_or(0);
    }
    if (reference == nullptr || distorted == nullptr || s.pictures.count(reference->priv) == 0 ||
        s.pictures.count(distorted->priv) == 0) {
        ++s.misuse;
        return -EINVAL;
    }
    const bool readable = !code && !context->flushed && samePictureShape(*reference, *distorted) &&
                          context->pairs.count(index) == 0;
    if (readable) {
        readPair(*context, *reference, *distorted, index);
    }
    takePicture(*context, *reference);
    takePicture(*context, *distorted);
    return code.value_or(readable ? 0 : -EINVAL);
}

STAND_IN_EXPORT int vmaf_score_at_index(VmafContext* context, VmafModel* model,
                                                               double* score, unsigned index) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    if (const auto code = enter(s, "vmaf_score_at_index")) {
        return *code;
    }
    if (s.contexts.count(context) == 0 || s.models.count(model) == 0 || score == nullptr) {
        ++s.misuse;
        return -EINVAL;
    }
    const auto pair = scoredPair(context, index);
    if (!pair) {
        return -EINVAL;
    }
    *score = std::max(0.0, 100.0 * (1.0 - pair->relativeDifference - pair->motion2 / pair->peak));
    return 0;
}

STAND_IN_EXPORT int vmaf_feature_score_at_index(VmafContext* context,
                                                                       const char* featureName, double* score,
                                                                       unsigned index) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    const std::string name = featureName != nullptr ? featureName : "";
    const auto code = enter(s, "vmaf_feature_score_at_index");
    if (const auto named = s.failing.find("vmaf_feature_score_at_index " + name); named != s.failing.end()) {
        return named->second;
    }
    if (code) {
        return *code;
    }
    if (s.contexts.count(context) == 0 || score == nullptr) {
        ++s.misuse;
        return -EINVAL;
    }
    const auto pair = scoredPair(context, index);
    if (!pair) {
        return -EINVAL;
    }
    if (name == kMotionFeature) {
        *score = pair->motion2;
        return 0;
    }
    const auto rule = std::find_if(std::begin(kFeatureRules), std::end(kFeatureRules),
                                   [&name](const FeatureRule& r) { return name == r.name; });
    if (rule == std::end(kFeatureRules)) {
        return -EINVAL;
    }
    *score = std::max(0.0, 1.0 - rule->weight * pair->relativeDifference);
    return 0;
}

STAND_IN_EXPORT const char* vmaf_version() {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    return enter(s, "vmaf_version") ? nullptr : kStandInVersion;
}

STAND_IN_EXPORT void vexilo_vmaf_stand_in_reset() {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    s.failing.clear();
    s.calls.clear();
    s.misuse = 0;
    s.last = VexiloVmafStandInLastCall{};
    s.initHook = nullptr;
    s.initHookData = nullptr;
}

STAND_IN_EXPORT void vexilo_vmaf_stand_in_on_init(VexiloVmafStandInInitHook hook, void* data) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    s.initHook = hook;
    s.initHookData = data;
}

STAND_IN_EXPORT void vexilo_vmaf_stand_in_fail(const char* function, int code) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    s.failing[function] = code;
}

STAND_IN_EXPORT long vexilo_vmaf_stand_in_live_contexts() {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    return static_cast<long>(s.contexts.size());
}

STAND_IN_EXPORT long vexilo_vmaf_stand_in_live_models() {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    return static_cast<long>(s.models.size());
}

STAND_IN_EXPORT long vexilo_vmaf_stand_in_live_pictures() {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    return static_cast<long>(s.pictures.size());
}

STAND_IN_EXPORT long vexilo_vmaf_stand_in_misuse_count() {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    return s.misuse;
}

STAND_IN_EXPORT long vexilo_vmaf_stand_in_call_count(const char* function) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    return static_cast<long>(std::count(s.calls.begin(), s.calls.end(), std::string(function)));
}

STAND_IN_EXPORT std::size_t vexilo_vmaf_stand_in_call_log(char* buffer, std::size_t capacity) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    std::string joined;
    for (const std::string& call : s.calls) {
        joined += joined.empty() ? call : "," + call;
    }
    if (buffer != nullptr && capacity > 0) {
        copyText(buffer, capacity, joined.c_str());
    }
    return joined.size();
}

STAND_IN_EXPORT void vexilo_vmaf_stand_in_last_call(VexiloVmafStandInLastCall* out) {
    StandInState& s = state();
    const std::lock_guard lock(s.mutex);
    *out = s.last;
}

}  // extern "C"
