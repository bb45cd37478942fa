/*
 * The decoder observer interface shared by the HEVC syntax observer (which fills the
 * events) and the analyzer worker (which reads them). One definition of every record,
 * offset and bit, so that both sides cannot drift apart.
 *
 * Every multi-byte value is little-endian in the natural alignment of its width;
 * pointers are 64-bit. An event starts with the 64-byte header and is at least as long
 * as its kind's minimum size; each payload struct below has exactly that minimum size
 * and embeds the header as its first member. Readers copy an event into the struct of
 * its kind (after checking the size) rather than casting the pointer.
 *
 * Plain C: compiles as C11 and as C++.
 */
#ifndef VEXILO_HEVC_OBSERVER_OBSERVER_ABI_H
#define VEXILO_HEVC_OBSERVER_OBSERVER_ABI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef __cplusplus
#define VEXILO_OBSERVER_STATIC_ASSERT(condition, message) static_assert(condition, message)
#else
#define VEXILO_OBSERVER_STATIC_ASSERT(condition, message) _Static_assert(condition, message)
#endif

#define VEXILO_OBSERVER_CHECK_SIZE(type, bytes) \
    VEXILO_OBSERVER_STATIC_ASSERT(sizeof(type) == (bytes), #type " must be " #bytes " bytes")
#define VEXILO_OBSERVER_CHECK_OFFSET(type, field, offset) \
    VEXILO_OBSERVER_STATIC_ASSERT(offsetof(type, field) == (offset), #type "." #field " must sit at " #offset)

VEXILO_OBSERVER_STATIC_ASSERT(sizeof(void*) == 8, "the observer records assume 64-bit pointers");

/* ---------------------------------------------------------------------------------- */
/* Versions, kinds, masks and results                                                  */
/* ---------------------------------------------------------------------------------- */

#define VEXILO_OBSERVER_ABI_VERSION 8u
#define VEXILO_OBSERVER_REGISTRATION_SIZE 32u
#define VEXILO_OBSERVER_EVENT_HEADER_SIZE 64u

typedef enum VexiloObserverEventKind {
    VEXILO_OBSERVER_EVENT_START_MARKER = 1,
    VEXILO_OBSERVER_EVENT_END_MARKER = 2,
    VEXILO_OBSERVER_EVENT_PICTURE_LIFECYCLE = 3,
    VEXILO_OBSERVER_EVENT_PICTURE_LIFECYCLE_UPDATE = 4,
    VEXILO_OBSERVER_EVENT_LIFECYCLE = 5,
    VEXILO_OBSERVER_EVENT_NAL_UNIT = 6,
    VEXILO_OBSERVER_EVENT_VPS = 7,
    VEXILO_OBSERVER_EVENT_SPS = 8,
    VEXILO_OBSERVER_EVENT_PPS = 9,
    VEXILO_OBSERVER_EVENT_SEI_MESSAGE = 10,
    VEXILO_OBSERVER_EVENT_SLICE_SEGMENT_HEADER = 11,
    VEXILO_OBSERVER_EVENT_SHORT_TERM_RPS_ENTRY = 12,
    VEXILO_OBSERVER_EVENT_LONG_TERM_RPS_ENTRY = 13,
    VEXILO_OBSERVER_EVENT_REFERENCE_LIST_ENTRY = 14,
    VEXILO_OBSERVER_EVENT_DPB_SNAPSHOT_ENTRY = 15,
    VEXILO_OBSERVER_EVENT_REFERENCE_STATE_MARKER = 16,
    VEXILO_OBSERVER_EVENT_PICTURE_OUTPUT = 17,
    VEXILO_OBSERVER_EVENT_CTU = 18,
    VEXILO_OBSERVER_EVENT_CU = 19,
    VEXILO_OBSERVER_EVENT_PU = 20,
    VEXILO_OBSERVER_EVENT_TU = 21,
    VEXILO_OBSERVER_EVENT_VPS_LAYER_SET = 22,
    VEXILO_OBSERVER_EVENT_SYNTAX_DIAGNOSTIC = 23
} VexiloObserverEventKind;

#define VEXILO_OBSERVER_EVENT_KIND_COUNT 23u

/* Minimum byte size of an event of each kind (header included). Kinds above 23 pass
 * with the header alone. */
#define VEXILO_OBSERVER_MIN_SIZE_MARKER 64u
#define VEXILO_OBSERVER_MIN_SIZE_NAL_UNIT 120u
#define VEXILO_OBSERVER_MIN_SIZE_PARAMETER_SET 1176u
#define VEXILO_OBSERVER_MIN_SIZE_SEI_MESSAGE 112u
#define VEXILO_OBSERVER_MIN_SIZE_SLICE_SEGMENT_HEADER 216u
#define VEXILO_OBSERVER_MIN_SIZE_RPS_ENTRY 112u
#define VEXILO_OBSERVER_MIN_SIZE_REFERENCE_LIST_ENTRY 112u
#define VEXILO_OBSERVER_MIN_SIZE_DPB_SNAPSHOT_ENTRY 104u
#define VEXILO_OBSERVER_MIN_SIZE_REFERENCE_STATE_MARKER 112u
#define VEXILO_OBSERVER_MIN_SIZE_PICTURE_OUTPUT 96u
#define VEXILO_OBSERVER_MIN_SIZE_CTU 120u
#define VEXILO_OBSERVER_MIN_SIZE_CU 208u
#define VEXILO_OBSERVER_MIN_SIZE_PU 240u
#define VEXILO_OBSERVER_MIN_SIZE_TU 264u
#define VEXILO_OBSERVER_MIN_SIZE_VPS_LAYER_SET 88u
#define VEXILO_OBSERVER_MIN_SIZE_SYNTAX_DIAGNOSTIC 272u

/* Registration event mask: bit k-1 set = deliver events of kind k. Syntax diagnostics
 * (kind 23) are delivered whatever the mask says: an analysis always learns what the
 * observer refused. */
#define VEXILO_OBSERVER_EVENT_MASK_BIT(kind) (UINT64_C(1) << ((kind) - 1u))
/* Kinds 1-17 and 22: everything but the coding blocks ("stream_index"). */
#define VEXILO_OBSERVER_EVENT_MASK_STREAM_INDEX UINT64_C(0x21FFFF)
/* Kinds 1-22 ("picture_structure", "bounded_structure"). */
#define VEXILO_OBSERVER_EVENT_MASK_ALL UINT64_C(0x3FFFFF)

/* Callback results: the event was stored (or dropped and counted), or the collector
 * failed for good and the decoder may stop delivering. */
#define VEXILO_OBSERVER_RESULT_OK 0
#define VEXILO_OBSERVER_RESULT_FATAL (-1)
/* Attach refused without calling the decoder (AVERROR(EINVAL)). */
#define VEXILO_OBSERVER_RESULT_INVALID_ARGUMENT (-22)

/* Header sentinels. */
#define VEXILO_OBSERVER_NO_DISPLAY_INDEX INT64_C(-1)
#define VEXILO_OBSERVER_NO_TIMESTAMP INT64_MIN
#define VEXILO_OBSERVER_NO_PARAMETER_SET_ID UINT32_C(0xFFFFFFFF)

/* Header pictureType. */
#define VEXILO_OBSERVER_PICTURE_TYPE_I 1u
#define VEXILO_OBSERVER_PICTURE_TYPE_P 2u
#define VEXILO_OBSERVER_PICTURE_TYPE_B 3u

/* Parameter-set kind at payload offset 76. */
#define VEXILO_OBSERVER_PARAMETER_SET_VPS 1u
#define VEXILO_OBSERVER_PARAMETER_SET_SPS 2u
#define VEXILO_OBSERVER_PARAMETER_SET_PPS 3u

/* Slice types at offsets 144 and 148 (the syntax element's own coding). */
#define VEXILO_OBSERVER_SLICE_TYPE_B 0u
#define VEXILO_OBSERVER_SLICE_TYPE_P 1u
#define VEXILO_OBSERVER_SLICE_TYPE_I 2u

/* Reference-list entry list at offset 88. */
#define VEXILO_OBSERVER_LIST_L0 0u
#define VEXILO_OBSERVER_LIST_L1 1u

/* SEI payload bytes carried by the worker's normalised copy. */
#define VEXILO_OBSERVER_SEI_PAYLOAD_COPY_LIMIT 256u

/* ---------------------------------------------------------------------------------- */
/* Event header (first 64 bytes of every event)                                        */
/* ---------------------------------------------------------------------------------- */

typedef struct VexiloObserverEventHeader {
    uint32_t size;          /* byte size of the whole event */
    uint32_t abiVersion;    /* VEXILO_OBSERVER_ABI_VERSION */
    uint32_t kind;          /* VexiloObserverEventKind */
    uint32_t reserved12;    /* not read by the worker */
    uint64_t ordinal;       /* running number; NAL key when the byte location is absent */
    int64_t displayIndex;   /* -1 = none */
    int64_t pts;            /* INT64_MIN = absent */
    int64_t dts;            /* INT64_MIN = absent */
    uint32_t width;         /* luma samples, 0 = absent */
    uint32_t height;        /* luma samples, 0 = absent */
    uint32_t pictureType;   /* 1 I, 2 P, 3 B, other = none */
    uint32_t headerReserved;
} VexiloObserverEventHeader;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverEventHeader, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, abiVersion, 4);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, kind, 8);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, ordinal, 16);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, displayIndex, 24);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, pts, 32);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, dts, 40);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, width, 48);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, height, 52);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, pictureType, 56);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverEventHeader, headerReserved, 60);

/* ---------------------------------------------------------------------------------- */
/* Registration                                                                        */
/* ---------------------------------------------------------------------------------- */

/* Called once per event, on the thread that makes the feed call (observer_feed.h) and from
 * inside that call; the deliveries of one registration never overlap, those of registrations
 * on different codec contexts may run at once. The event is valid only during the call. The second argument is reserved (pass 0). Returns
 * VEXILO_OBSERVER_RESULT_OK or VEXILO_OBSERVER_RESULT_FATAL. */
typedef int (*VexiloObserverCallback)(void* opaque, uint64_t flags,
                                      const VexiloObserverEventHeader* event);

typedef struct VexiloObserverRegistration {
    uint32_t size;       /* VEXILO_OBSERVER_REGISTRATION_SIZE */
    uint32_t abiVersion; /* VEXILO_OBSERVER_ABI_VERSION */
    uint64_t eventMask;  /* VEXILO_OBSERVER_EVENT_MASK_BIT(kind) per delivered kind */
    VexiloObserverCallback callback;
    void* opaque;
} VexiloObserverRegistration;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverRegistration, 32);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverRegistration, abiVersion, 4);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverRegistration, eventMask, 8);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverRegistration, callback, 16);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverRegistration, opaque, 24);

struct AVCodecContext;

/* Installs the observer on a decoder context before avcodec_open2; the record is
 * copied. Negative = failure. */
int av_vexilo_set_observer(struct AVCodecContext* context,
                           const VexiloObserverRegistration* registration);

/* Removes the observer; no callback runs once this has returned. Negative = failure. */
int av_vexilo_clear_observer(struct AVCodecContext* context);

/* ---------------------------------------------------------------------------------- */
/* Kind 6: NAL unit                                                                    */
/* ---------------------------------------------------------------------------------- */

typedef struct VexiloObserverNalUnitEvent {
    VexiloObserverEventHeader header;
    int64_t byteOffset; /* in the input; -1 = absent */
    uint64_t byteSize;
    uint64_t contentHash;
    uint32_t indexInPacket; /* position among the NAL units of its packet or configuration record */
    uint32_t startCodeLength; /* 3 or 4 */
    uint32_t nalUnitType;
    uint32_t layerId;    /* low byte used */
    uint32_t temporalId; /* low byte used */
    uint32_t byteLocationKnown; /* non-zero = byteOffset is valid */
    uint64_t nalIdentity; /* non-zero; later events of the thread inherit it */
} VexiloObserverNalUnitEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverNalUnitEvent, 120);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, byteOffset, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, byteSize, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, contentHash, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, indexInPacket, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, startCodeLength, 92);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, nalUnitType, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, layerId, 100);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, temporalId, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, byteLocationKnown, 108);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverNalUnitEvent, nalIdentity, 112);

/* ---------------------------------------------------------------------------------- */
/* Kinds 7, 8, 9: VPS, SPS, PPS (one layout; fields of the other kinds are zero)        */
/* ---------------------------------------------------------------------------------- */

#define VEXILO_OBSERVER_MAX_SUB_LAYERS 7
#define VEXILO_OBSERVER_WINDOW_OFFSET_COUNT 4 /* left, right, top, bottom */
#define VEXILO_OBSERVER_MAX_LONG_TERM_REF_PICS_SPS 32
#define VEXILO_OBSERVER_MAX_TILE_COLUMNS 20
#define VEXILO_OBSERVER_MAX_TILE_ROWS 22
#define VEXILO_OBSERVER_MAX_CHROMA_QP_OFFSET_LIST 6

/* Bit word at offset 136. */
#define VEXILO_OBSERVER_PS_TEMPORAL_ID_NESTING (1u << 0)
#define VEXILO_OBSERVER_PS_TILES_ENABLED (1u << 1)
#define VEXILO_OBSERVER_PS_ENTROPY_CODING_SYNC_ENABLED (1u << 2)
#define VEXILO_OBSERVER_PS_SAMPLE_ADAPTIVE_OFFSET_ENABLED (1u << 3)
#define VEXILO_OBSERVER_PS_TEMPORAL_MVP_ENABLED (1u << 4)
#define VEXILO_OBSERVER_PS_DEPENDENT_SLICE_SEGMENTS_ENABLED (1u << 5)
#define VEXILO_OBSERVER_PS_OUTPUT_FLAG_PRESENT (1u << 6)
#define VEXILO_OBSERVER_PS_VPS_BASE_LAYER_INTERNAL (1u << 7)
#define VEXILO_OBSERVER_PS_VPS_BASE_LAYER_AVAILABLE (1u << 8)

/* Constraint flag bits (general at 280/284, per sub-layer at 408/436). */
#define VEXILO_OBSERVER_PTL_PROGRESSIVE_SOURCE (1u << 0)
#define VEXILO_OBSERVER_PTL_INTERLACED_SOURCE (1u << 1)
#define VEXILO_OBSERVER_PTL_NON_PACKED_CONSTRAINT (1u << 2)
#define VEXILO_OBSERVER_PTL_FRAME_ONLY_CONSTRAINT (1u << 3)
#define VEXILO_OBSERVER_PTL_MAX_12BIT_CONSTRAINT (1u << 4)
#define VEXILO_OBSERVER_PTL_MAX_10BIT_CONSTRAINT (1u << 5)
#define VEXILO_OBSERVER_PTL_MAX_8BIT_CONSTRAINT (1u << 6)
#define VEXILO_OBSERVER_PTL_MAX_422CHROMA_CONSTRAINT (1u << 7)
#define VEXILO_OBSERVER_PTL_MAX_420CHROMA_CONSTRAINT (1u << 8)
#define VEXILO_OBSERVER_PTL_MAX_MONOCHROME_CONSTRAINT (1u << 9)
#define VEXILO_OBSERVER_PTL_INTRA_CONSTRAINT (1u << 10)
#define VEXILO_OBSERVER_PTL_ONE_PICTURE_ONLY_CONSTRAINT (1u << 11)
#define VEXILO_OBSERVER_PTL_LOWER_BIT_RATE_CONSTRAINT (1u << 12)
#define VEXILO_OBSERVER_PTL_MAX_14BIT_CONSTRAINT (1u << 13)
#define VEXILO_OBSERVER_PTL_INBLD (1u << 14)

/* SPS flag word at offset 496. Bits 7 and 9 carry the two SPS flags that sit between
 * their neighbours in syntax order. */
#define VEXILO_OBSERVER_SPS_SEPARATE_COLOUR_PLANE (UINT64_C(1) << 0)
#define VEXILO_OBSERVER_SPS_CONFORMANCE_WINDOW (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_SPS_SUB_LAYER_ORDERING_INFO_PRESENT (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_SPS_SCALING_LIST_ENABLED (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_SPS_SCALING_LIST_DATA_PRESENT (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_SPS_AMP_ENABLED (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_SPS_LONG_TERM_REF_PICS_PRESENT (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_SPS_PCM_ENABLED (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_SPS_PCM_LOOP_FILTER_DISABLED (UINT64_C(1) << 8)
#define VEXILO_OBSERVER_SPS_STRONG_INTRA_SMOOTHING_ENABLED (UINT64_C(1) << 9)
#define VEXILO_OBSERVER_SPS_VUI_PARAMETERS_PRESENT (UINT64_C(1) << 10)
#define VEXILO_OBSERVER_SPS_EXTENSION_PRESENT (UINT64_C(1) << 11)
#define VEXILO_OBSERVER_SPS_RANGE_EXTENSION (UINT64_C(1) << 12)
#define VEXILO_OBSERVER_SPS_TRANSFORM_SKIP_ROTATION_ENABLED (UINT64_C(1) << 16)
#define VEXILO_OBSERVER_SPS_TRANSFORM_SKIP_CONTEXT_ENABLED (UINT64_C(1) << 17)
#define VEXILO_OBSERVER_SPS_IMPLICIT_RDPCM_ENABLED (UINT64_C(1) << 18)
#define VEXILO_OBSERVER_SPS_EXPLICIT_RDPCM_ENABLED (UINT64_C(1) << 19)
#define VEXILO_OBSERVER_SPS_EXTENDED_PRECISION_PROCESSING (UINT64_C(1) << 20)
#define VEXILO_OBSERVER_SPS_INTRA_SMOOTHING_DISABLED (UINT64_C(1) << 21)
#define VEXILO_OBSERVER_SPS_HIGH_PRECISION_OFFSETS_ENABLED (UINT64_C(1) << 22)
#define VEXILO_OBSERVER_SPS_PERSISTENT_RICE_ADAPTATION_ENABLED (UINT64_C(1) << 23)
#define VEXILO_OBSERVER_SPS_CABAC_BYPASS_ALIGNMENT_ENABLED (UINT64_C(1) << 24)

/* VUI flag word at offset 792. */
#define VEXILO_OBSERVER_VUI_ASPECT_RATIO_INFO_PRESENT (UINT64_C(1) << 0)
#define VEXILO_OBSERVER_VUI_OVERSCAN_INFO_PRESENT (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_VUI_OVERSCAN_APPROPRIATE (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_VUI_VIDEO_SIGNAL_TYPE_PRESENT (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_VUI_VIDEO_FULL_RANGE (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_VUI_COLOUR_DESCRIPTION_PRESENT (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_VUI_CHROMA_LOC_INFO_PRESENT (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_VUI_NEUTRAL_CHROMA_INDICATION (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_VUI_FIELD_SEQ (UINT64_C(1) << 8)
#define VEXILO_OBSERVER_VUI_FRAME_FIELD_INFO_PRESENT (UINT64_C(1) << 9)
#define VEXILO_OBSERVER_VUI_DEFAULT_DISPLAY_WINDOW (UINT64_C(1) << 10)
#define VEXILO_OBSERVER_VUI_TIMING_INFO_PRESENT (UINT64_C(1) << 11)
#define VEXILO_OBSERVER_VUI_POC_PROPORTIONAL_TO_TIMING (UINT64_C(1) << 12)
#define VEXILO_OBSERVER_VUI_HRD_PARAMETERS_PRESENT (UINT64_C(1) << 13)
#define VEXILO_OBSERVER_VUI_BITSTREAM_RESTRICTION (UINT64_C(1) << 14)
#define VEXILO_OBSERVER_VUI_TILES_FIXED_STRUCTURE (UINT64_C(1) << 15)
#define VEXILO_OBSERVER_VUI_MOTION_VECTORS_OVER_PIC_BOUNDARIES (UINT64_C(1) << 16)
#define VEXILO_OBSERVER_VUI_RESTRICTED_REF_PIC_LISTS (UINT64_C(1) << 17)

/* PPS flag word at offset 888. */
#define VEXILO_OBSERVER_PPS_SIGN_DATA_HIDING_ENABLED (UINT64_C(1) << 0)
#define VEXILO_OBSERVER_PPS_CABAC_INIT_PRESENT (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_PPS_CONSTRAINED_INTRA_PRED (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_PPS_TRANSFORM_SKIP_ENABLED (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_PPS_CU_QP_DELTA_ENABLED (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_PPS_SLICE_CHROMA_QP_OFFSETS_PRESENT (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_PPS_WEIGHTED_PRED (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_PPS_WEIGHTED_BIPRED (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_PPS_TRANSQUANT_BYPASS_ENABLED (UINT64_C(1) << 8)
#define VEXILO_OBSERVER_PPS_UNIFORM_SPACING (UINT64_C(1) << 9)
#define VEXILO_OBSERVER_PPS_LOOP_FILTER_ACROSS_TILES_ENABLED (UINT64_C(1) << 10)
#define VEXILO_OBSERVER_PPS_LOOP_FILTER_ACROSS_SLICES_ENABLED (UINT64_C(1) << 11)
#define VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_CONTROL_PRESENT (UINT64_C(1) << 12)
#define VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_OVERRIDE_ENABLED (UINT64_C(1) << 13)
#define VEXILO_OBSERVER_PPS_DEBLOCKING_FILTER_DISABLED (UINT64_C(1) << 14)
#define VEXILO_OBSERVER_PPS_SCALING_LIST_DATA_PRESENT (UINT64_C(1) << 15)
#define VEXILO_OBSERVER_PPS_LISTS_MODIFICATION_PRESENT (UINT64_C(1) << 16)
#define VEXILO_OBSERVER_PPS_SLICE_SEGMENT_HEADER_EXTENSION_PRESENT (UINT64_C(1) << 17)
#define VEXILO_OBSERVER_PPS_EXTENSION_PRESENT (UINT64_C(1) << 18)
#define VEXILO_OBSERVER_PPS_RANGE_EXTENSION (UINT64_C(1) << 19)
#define VEXILO_OBSERVER_PPS_MULTILAYER_EXTENSION (UINT64_C(1) << 20)
#define VEXILO_OBSERVER_PPS_3D_EXTENSION (UINT64_C(1) << 21)
#define VEXILO_OBSERVER_PPS_SCC_EXTENSION (UINT64_C(1) << 22)
#define VEXILO_OBSERVER_PPS_CROSS_COMPONENT_PREDICTION_ENABLED (UINT64_C(1) << 23)
#define VEXILO_OBSERVER_PPS_CHROMA_QP_OFFSET_LIST_ENABLED (UINT64_C(1) << 24)

typedef struct VexiloObserverParameterSetEvent {
    VexiloObserverEventHeader header;
    uint64_t contentHash;
    uint32_t reserved72;
    uint32_t parameterSetKind; /* 1 VPS, 2 SPS, 3 PPS */
    uint32_t parameterSetId;
    uint32_t referencedParameterSetId; /* 0xFFFFFFFF = none */
    uint32_t width;  /* coded picture width; replaces the header width */
    uint32_t height; /* replaces the header height */
    uint32_t profileIdc; /* general_profile_idc */
    uint32_t levelIdc;   /* general_level_idc */
    uint32_t chromaFormatIdc;
    uint32_t bitDepthLuma;
    uint32_t bitDepthChroma;
    uint32_t log2CtuSize;
    uint32_t maxSubLayers;
    uint32_t numShortTermRefPicSets; /* SPS */
    uint32_t numTileColumns;         /* PPS */
    uint32_t numTileRows;            /* PPS */
    uint32_t flags;                  /* VEXILO_OBSERVER_PS_* */
    /* VPS */
    uint32_t vpsLayerCount;
    uint32_t vpsSubLayerOrderingInfoPresent;
    uint32_t vpsMaxDecPicBufferingPlus1[VEXILO_OBSERVER_MAX_SUB_LAYERS]; /* 0 = no entry */
    uint32_t vpsMaxNumReorderPics[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t vpsMaxLatencyIncreasePlus1[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t vpsMaxLayerId;
    uint32_t vpsNumLayerSets;
    uint32_t vpsTimingInfoPresent;
    uint32_t vpsNumUnitsInTick;
    uint32_t vpsTimeScale;
    uint32_t vpsPocProportionalToTiming;
    uint32_t vpsNumTicksPocDiffOneMinus1;
    uint32_t vpsNumHrdParameters;
    uint32_t vpsExtension;
    /* profile, tier and level */
    uint32_t generalProfileSpace;
    uint32_t generalTierFlag;
    uint32_t generalProfileCompatibilityFlags; /* bit j = flag j */
    uint32_t generalConstraintFlags;           /* VEXILO_OBSERVER_PTL_* values */
    uint32_t generalConstraintPresence;        /* VEXILO_OBSERVER_PTL_* signaled */
    uint32_t subLayerProfilePresentMask;       /* bit i = sub-layer i */
    uint32_t subLayerLevelPresentMask;
    uint32_t subLayerProfileSpace[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t subLayerTierFlag[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t subLayerProfileIdc[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t subLayerProfileCompatibilityFlags[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t subLayerConstraintFlags[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t subLayerConstraintPresence[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t subLayerLevelIdc[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t reserved492;
    /* SPS */
    uint64_t spsFlags; /* VEXILO_OBSERVER_SPS_* */
    uint32_t log2MaxPicOrderCntLsb; /* syntax value plus 4 */
    uint32_t spsMaxDecPicBufferingPlus1[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t spsMaxNumReorderPics[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t spsMaxLatencyIncreasePlus1[VEXILO_OBSERVER_MAX_SUB_LAYERS];
    uint32_t log2MinLumaCodingBlockSize;  /* syntax value plus 3 */
    uint32_t log2DiffMaxMinLumaCodingBlockSize;
    uint32_t log2MinLumaTransformBlockSize; /* syntax value plus 2 */
    uint32_t log2DiffMaxMinLumaTransformBlockSize;
    uint32_t maxTransformHierarchyDepthInter;
    uint32_t maxTransformHierarchyDepthIntra;
    uint32_t conformanceWindowOffsets[VEXILO_OBSERVER_WINDOW_OFFSET_COUNT];
    uint32_t numLongTermRefPicsSps;
    uint32_t ltRefPicPocLsbSps[VEXILO_OBSERVER_MAX_LONG_TERM_REF_PICS_SPS];
    uint32_t usedByCurrPicLtSpsFlags; /* bit i = used_by_curr_pic_lt_sps_flag[i] */
    uint32_t pcmSampleBitDepthLuma;   /* syntax value plus 1 */
    uint32_t pcmSampleBitDepthChroma; /* syntax value plus 1 */
    uint32_t log2MinPcmLumaCodingBlockSize;
    uint32_t log2MaxPcmLumaCodingBlockSize;
    uint32_t spsExtension4bits;
    uint32_t reserved788;
    /* VUI */
    uint64_t vuiFlags; /* VEXILO_OBSERVER_VUI_* */
    uint32_t aspectRatioIdc;
    uint32_t sarWidth;
    uint32_t sarHeight;
    uint32_t videoFormat;
    uint32_t colourPrimaries;
    uint32_t transferCharacteristics;
    uint32_t matrixCoeffs;
    uint32_t chromaSampleLocTypeTopField;
    uint32_t chromaSampleLocTypeBottomField;
    uint32_t defaultDisplayWindowOffsets[VEXILO_OBSERVER_WINDOW_OFFSET_COUNT];
    uint32_t vuiNumUnitsInTick;
    uint32_t vuiTimeScale;
    uint32_t vuiNumTicksPocDiffOneMinus1;
    uint32_t minSpatialSegmentationIdc;
    uint32_t maxBytesPerPicDenom;
    uint32_t maxBitsPerMinCuDenom;
    uint32_t log2MaxMvLengthHorizontal;
    uint32_t log2MaxMvLengthVertical;
    uint32_t reserved884;
    /* PPS */
    uint64_t ppsFlags; /* VEXILO_OBSERVER_PPS_* */
    uint32_t numExtraSliceHeaderBits;
    uint32_t numRefIdxL0DefaultActive; /* syntax value plus 1 */
    uint32_t numRefIdxL1DefaultActive; /* syntax value plus 1 */
    int32_t initQpMinus26;
    uint32_t diffCuQpDeltaDepth;
    int32_t cbQpOffset;
    int32_t crQpOffset;
    uint32_t columnWidths[VEXILO_OBSERVER_MAX_TILE_COLUMNS]; /* column_width_minus1 + 1 */
    uint32_t rowHeights[VEXILO_OBSERVER_MAX_TILE_ROWS];     /* row_height_minus1 + 1 */
    int32_t betaOffset; /* twice pps_beta_offset_div2 */
    int32_t tcOffset;   /* twice pps_tc_offset_div2 */
    uint32_t log2ParallelMergeLevel; /* syntax value plus 2 */
    uint32_t ppsExtension4bits;
    uint32_t log2MaxTransformSkipBlockSize; /* syntax value plus 2 */
    uint32_t diffCuChromaQpOffsetDepth;
    uint32_t chromaQpOffsetListLenMinus1;
    int32_t cbQpOffsetList[VEXILO_OBSERVER_MAX_CHROMA_QP_OFFSET_LIST];
    int32_t crQpOffsetList[VEXILO_OBSERVER_MAX_CHROMA_QP_OFFSET_LIST];
    uint32_t log2SaoOffsetScaleLuma;
    uint32_t log2SaoOffsetScaleChroma;
} VexiloObserverParameterSetEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverParameterSetEvent, 1176);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, contentHash, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, reserved72, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, parameterSetKind, 76);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, parameterSetId, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, referencedParameterSetId, 84);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, width, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, height, 92);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, profileIdc, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, levelIdc, 100);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, chromaFormatIdc, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, bitDepthLuma, 108);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, bitDepthChroma, 112);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2CtuSize, 116);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, maxSubLayers, 120);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, numShortTermRefPicSets, 124);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, numTileColumns, 128);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, numTileRows, 132);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, flags, 136);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsLayerCount, 140);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsSubLayerOrderingInfoPresent, 144);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsMaxDecPicBufferingPlus1, 148);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsMaxNumReorderPics, 176);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsMaxLatencyIncreasePlus1, 204);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsMaxLayerId, 232);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsNumLayerSets, 236);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsTimingInfoPresent, 240);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsNumUnitsInTick, 244);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsTimeScale, 248);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsPocProportionalToTiming, 252);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsNumTicksPocDiffOneMinus1, 256);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsNumHrdParameters, 260);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vpsExtension, 264);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, generalProfileSpace, 268);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, generalTierFlag, 272);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, generalProfileCompatibilityFlags, 276);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, generalConstraintFlags, 280);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, generalConstraintPresence, 284);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerProfilePresentMask, 288);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerLevelPresentMask, 292);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerProfileSpace, 296);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerTierFlag, 324);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerProfileIdc, 352);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerProfileCompatibilityFlags, 380);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerConstraintFlags, 408);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerConstraintPresence, 436);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, subLayerLevelIdc, 464);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, spsFlags, 496);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2MaxPicOrderCntLsb, 504);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, spsMaxDecPicBufferingPlus1, 508);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, spsMaxNumReorderPics, 536);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, spsMaxLatencyIncreasePlus1, 564);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2MinLumaCodingBlockSize, 592);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2DiffMaxMinLumaCodingBlockSize, 596);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2MinLumaTransformBlockSize, 600);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2DiffMaxMinLumaTransformBlockSize, 604);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, maxTransformHierarchyDepthInter, 608);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, maxTransformHierarchyDepthIntra, 612);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, conformanceWindowOffsets, 616);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, numLongTermRefPicsSps, 632);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, ltRefPicPocLsbSps, 636);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, usedByCurrPicLtSpsFlags, 764);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, pcmSampleBitDepthLuma, 768);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, pcmSampleBitDepthChroma, 772);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2MinPcmLumaCodingBlockSize, 776);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2MaxPcmLumaCodingBlockSize, 780);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, spsExtension4bits, 784);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vuiFlags, 792);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, aspectRatioIdc, 800);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, sarWidth, 804);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, sarHeight, 808);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, videoFormat, 812);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, colourPrimaries, 816);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, transferCharacteristics, 820);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, matrixCoeffs, 824);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, chromaSampleLocTypeTopField, 828);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, chromaSampleLocTypeBottomField, 832);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, defaultDisplayWindowOffsets, 836);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vuiNumUnitsInTick, 852);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vuiTimeScale, 856);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, vuiNumTicksPocDiffOneMinus1, 860);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, minSpatialSegmentationIdc, 864);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, maxBytesPerPicDenom, 868);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, maxBitsPerMinCuDenom, 872);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2MaxMvLengthHorizontal, 876);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2MaxMvLengthVertical, 880);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, ppsFlags, 888);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, numExtraSliceHeaderBits, 896);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, numRefIdxL0DefaultActive, 900);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, numRefIdxL1DefaultActive, 904);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, initQpMinus26, 908);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, diffCuQpDeltaDepth, 912);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, cbQpOffset, 916);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, crQpOffset, 920);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, columnWidths, 924);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, rowHeights, 1004);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, betaOffset, 1092);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, tcOffset, 1096);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2ParallelMergeLevel, 1100);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, ppsExtension4bits, 1104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2MaxTransformSkipBlockSize, 1108);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, diffCuChromaQpOffsetDepth, 1112);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, chromaQpOffsetListLenMinus1, 1116);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, cbQpOffsetList, 1120);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, crQpOffsetList, 1144);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2SaoOffsetScaleLuma, 1168);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverParameterSetEvent, log2SaoOffsetScaleChroma, 1172);

/* ---------------------------------------------------------------------------------- */
/* Kind 10: SEI message                                                                */
/* ---------------------------------------------------------------------------------- */

/* SEI status at offset 92. */
#define VEXILO_OBSERVER_SEI_STATUS_PARSED 1u
#define VEXILO_OBSERVER_SEI_STATUS_UNSUPPORTED 2u
#define VEXILO_OBSERVER_SEI_STATUS_MALFORMED 3u

typedef struct VexiloObserverSeiMessageEvent {
    VexiloObserverEventHeader header;
    uint64_t payloadSize; /* SEI payload size in bytes */
    uint64_t payloadHash;
    uint32_t messageIndexInNal; /* 0 for the first message of its SEI NAL unit */
    uint32_t payloadType;
    uint32_t nalUnitType;       /* of the SEI NAL unit: prefix or suffix */
    uint32_t status; /* VEXILO_OBSERVER_SEI_STATUS_* */
    const uint8_t* payload; /* valid only during the callback */
    uint32_t payloadBytesLength; /* bytes at payload */
    uint32_t reserved108;
} VexiloObserverSeiMessageEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverSeiMessageEvent, 112);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSeiMessageEvent, payloadSize, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSeiMessageEvent, payloadHash, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSeiMessageEvent, messageIndexInNal, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSeiMessageEvent, payloadType, 84);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSeiMessageEvent, nalUnitType, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSeiMessageEvent, status, 92);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSeiMessageEvent, payload, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSeiMessageEvent, payloadBytesLength, 104);

/* ---------------------------------------------------------------------------------- */
/* Kind 11: slice segment header                                                       */
/* ---------------------------------------------------------------------------------- */

/* presentMaskA: bit set = the field was signaled. */
#define VEXILO_OBSERVER_SLICE_A_FIRST_SLICE_SEGMENT_IN_PIC (UINT64_C(1) << 0)
#define VEXILO_OBSERVER_SLICE_A_NO_OUTPUT_OF_PRIOR_PICS (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_SLICE_A_PPS_ID (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_SLICE_A_DEPENDENT_SLICE_SEGMENT (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_SLICE_A_SLICE_SEGMENT_ADDRESS (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_SLICE_A_SIGNALED_SLICE_TYPE (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_SLICE_A_SLICE_PIC_OUTPUT (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_SLICE_A_SLICE_PIC_ORDER_CNT_LSB (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_SLICE_A_SHORT_TERM_REF_PIC_SET_SPS (UINT64_C(1) << 8)
#define VEXILO_OBSERVER_SLICE_A_SHORT_TERM_REF_PIC_SET_IDX (UINT64_C(1) << 9)
#define VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_ACTIVE_OVERRIDE (UINT64_C(1) << 10)
#define VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_L0_ACTIVE (UINT64_C(1) << 11)
#define VEXILO_OBSERVER_SLICE_A_NUM_REF_IDX_L1_ACTIVE (UINT64_C(1) << 12)
#define VEXILO_OBSERVER_SLICE_A_REF_PIC_LIST_MODIFICATION_L0 (UINT64_C(1) << 13)
#define VEXILO_OBSERVER_SLICE_A_REF_PIC_LIST_MODIFICATION_L1 (UINT64_C(1) << 14)
#define VEXILO_OBSERVER_SLICE_A_SLICE_QP_DELTA (UINT64_C(1) << 15)
#define VEXILO_OBSERVER_SLICE_A_NUM_ENTRY_POINT_OFFSETS (UINT64_C(1) << 16)
/* presentMaskB: bit set = the derived value is known. */
#define VEXILO_OBSERVER_SLICE_B_PICTURE_IDENTITY (UINT64_C(1) << 0)
#define VEXILO_OBSERVER_SLICE_B_SLICE_TYPE (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_SLICE_B_FIRST_CTU_ADDRESS (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_SLICE_B_POC (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_SLICE_B_SLICE_QP (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_SLICE_B_TILE_ID (UINT64_C(1) << 5)

typedef struct VexiloObserverSliceEvent {
    VexiloObserverEventHeader header;
    uint64_t nalIdentity;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity; /* decode-order picture id, shared with kind 17 */
    uint64_t presentMaskA;
    uint64_t presentMaskB;
    uint32_t parseStatus;    /* 1, 2, other = 0 */
    int32_t parserErrorCode; /* kept when negative */
    uint32_t nalUnitType;
    uint32_t temporalId;
    uint32_t sliceDataNalOffset; /* byte offset of slice_segment_data() in the NAL unit */
    uint32_t firstSliceSegmentInPic;
    uint32_t noOutputOfPriorPics;
    uint32_t ppsId; /* 16-bit */
    uint32_t dependentSliceSegment;
    uint32_t sliceSegmentAddress; /* also the slice order value when signaled */
    uint32_t signaledSliceType;   /* 0 B, 1 P, 2 I */
    uint32_t sliceType;           /* 0 B, 1 P, 2 I */
    uint32_t slicePicOutput;
    int32_t slicePicOrderCntLsb;
    int32_t poc;
    uint32_t shortTermRefPicSetSps;
    int32_t shortTermRefPicSetIdx; /* -1 = none */
    uint32_t numRefIdxActiveOverride;
    uint32_t numRefIdxL0Active; /* low byte */
    uint32_t numRefIdxL1Active; /* low byte */
    uint32_t refPicListModificationL0;
    uint32_t refPicListModificationL1;
    int32_t sliceQpDelta; /* 16-bit */
    int32_t sliceQp;      /* 16-bit */
    uint32_t firstCtuAddress; /* the slice order value when no segment address */
    uint32_t tileId;
    uint32_t numEntryPointOffsets;
    uint32_t reserved212;
} VexiloObserverSliceEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverSliceEvent, 216);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, nalIdentity, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, sliceIdentity, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, pictureIdentity, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, presentMaskA, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, presentMaskB, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, parseStatus, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, parserErrorCode, 108);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, nalUnitType, 112);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, temporalId, 116);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, sliceDataNalOffset, 120);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, firstSliceSegmentInPic, 124);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, noOutputOfPriorPics, 128);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, ppsId, 132);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, dependentSliceSegment, 136);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, sliceSegmentAddress, 140);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, signaledSliceType, 144);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, sliceType, 148);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, slicePicOutput, 152);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, slicePicOrderCntLsb, 156);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, poc, 160);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, shortTermRefPicSetSps, 164);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, shortTermRefPicSetIdx, 168);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, numRefIdxActiveOverride, 172);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, numRefIdxL0Active, 176);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, numRefIdxL1Active, 180);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, refPicListModificationL0, 184);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, refPicListModificationL1, 188);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, sliceQpDelta, 192);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, sliceQp, 196);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, firstCtuAddress, 200);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, tileId, 204);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSliceEvent, numEntryPointOffsets, 208);

/* ---------------------------------------------------------------------------------- */
/* Kinds 12, 13, 16: RPS entries and the reference-state marker                        */
/* ---------------------------------------------------------------------------------- */

/* Value origins (kinds 12 and 13), 1-3, other = 0. */
#define VEXILO_OBSERVER_ORIGIN_SLICE_HEADER 1u
#define VEXILO_OBSERVER_ORIGIN_SPS 2u
#define VEXILO_OBSERVER_ORIGIN_DERIVED 3u
/* The same origins by how the value came about. */
#define VEXILO_OBSERVER_ORIGIN_SIGNALED VEXILO_OBSERVER_ORIGIN_SLICE_HEADER
#define VEXILO_OBSERVER_ORIGIN_INFERRED VEXILO_OBSERVER_ORIGIN_SPS

/* Parse status (slice 104, CTU 108, CU 172, PU 232, TU 252) and reference-state status
 * (kind 16, offset 80): 1 parsed, 2 malformed (with a negative error code), other = 0. */
#define VEXILO_OBSERVER_PARSE_STATUS_PARSED 1u
#define VEXILO_OBSERVER_PARSE_STATUS_MALFORMED 2u

/* Reference status (kinds 14, 15; PU 224, 228): 1-4, other = 0. */
#define VEXILO_OBSERVER_REFERENCE_AVAILABLE 1u
#define VEXILO_OBSERVER_REFERENCE_UNAVAILABLE 2u
#define VEXILO_OBSERVER_REFERENCE_CORRUPT 3u
#define VEXILO_OBSERVER_REFERENCE_CURRENT_PICTURE 4u

typedef struct VexiloObserverShortTermRpsEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint32_t entryIndex;
    int32_t deltaPoc;
    int32_t poc;
    uint32_t used;
    uint32_t negative;
    uint32_t deltaPocOrigin;
    uint32_t usedOrigin;
    uint32_t reserved108;
} VexiloObserverShortTermRpsEvent;

typedef struct VexiloObserverLongTermRpsEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint32_t entryIndex;
    int32_t pocLsb;
    int32_t poc;
    uint32_t used;
    uint32_t deltaPocMsbPresent;
    uint32_t deltaPocMsbCycle;
    uint32_t origin;
    uint32_t reserved108;
} VexiloObserverLongTermRpsEvent;

typedef struct VexiloObserverReferenceStateEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint32_t status;   /* 1, 2, other = 0 */
    int32_t errorCode; /* kept when negative */
    uint32_t shortTermRpsCount;
    uint32_t longTermRpsCount;
    uint32_t refPicListL0Count;
    uint32_t refPicListL1Count;
    uint32_t dpbEntryCount;
    uint32_t reserved108;
} VexiloObserverReferenceStateEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverShortTermRpsEvent, 112);
VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverLongTermRpsEvent, 112);
VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverReferenceStateEvent, 112);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, sliceIdentity, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, pictureIdentity, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, entryIndex, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, deltaPoc, 84);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, poc, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, used, 92);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, negative, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, deltaPocOrigin, 100);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverShortTermRpsEvent, usedOrigin, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverLongTermRpsEvent, pocLsb, 84);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverLongTermRpsEvent, deltaPocMsbPresent, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverLongTermRpsEvent, deltaPocMsbCycle, 100);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverLongTermRpsEvent, origin, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceStateEvent, status, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceStateEvent, errorCode, 84);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceStateEvent, shortTermRpsCount, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceStateEvent, dpbEntryCount, 104);

/* ---------------------------------------------------------------------------------- */
/* Kinds 14, 15: reference-list entry, DPB snapshot entry                              */
/* ---------------------------------------------------------------------------------- */

/* DPB frame flags (kind 15, offset 96). */
#define VEXILO_OBSERVER_DPB_OUTPUT (1u << 0)
#define VEXILO_OBSERVER_DPB_SHORT_TERM_REFERENCE (1u << 1)
#define VEXILO_OBSERVER_DPB_LONG_TERM_REFERENCE (1u << 2)
#define VEXILO_OBSERVER_DPB_FRAME_FLAG_3 (1u << 3)
#define VEXILO_OBSERVER_DPB_FRAME_FLAG_4 (1u << 4)

typedef struct VexiloObserverReferenceListEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint64_t targetPictureId; /* 0 = none */
    uint32_t list;            /* 0 L0, 1 L1 */
    uint32_t listIndex;
    int32_t poc;
    uint32_t longTerm;
    uint32_t status; /* 1-4, other = 0 */
    uint32_t reserved108;
} VexiloObserverReferenceListEvent;

typedef struct VexiloObserverDpbEntryEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint64_t pictureId; /* the slot's picture, 0 = none */
    uint32_t slot;
    uint32_t poc;
    uint32_t frameFlags; /* VEXILO_OBSERVER_DPB_* */
    uint32_t status;     /* 1-4, other = 0 */
} VexiloObserverDpbEntryEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverReferenceListEvent, 112);
VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverDpbEntryEvent, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceListEvent, targetPictureId, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceListEvent, list, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceListEvent, listIndex, 92);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceListEvent, poc, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceListEvent, longTerm, 100);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverReferenceListEvent, status, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverDpbEntryEvent, pictureId, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverDpbEntryEvent, slot, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverDpbEntryEvent, poc, 92);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverDpbEntryEvent, frameFlags, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverDpbEntryEvent, status, 100);

/* ---------------------------------------------------------------------------------- */
/* Kind 17: picture output                                                             */
/* ---------------------------------------------------------------------------------- */

typedef struct VexiloObserverPictureOutputEvent {
    VexiloObserverEventHeader header;
    uint64_t pictureIdentity; /* decode-order picture id; non-zero */
    int64_t decodeIndex;      /* -1 = none */
    int32_t poc;
    uint32_t nalUnitType; /* of the picture's slice segments */
    uint32_t temporalId;
    uint32_t reserved92;
} VexiloObserverPictureOutputEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverPictureOutputEvent, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPictureOutputEvent, pictureIdentity, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPictureOutputEvent, decodeIndex, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPictureOutputEvent, poc, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPictureOutputEvent, nalUnitType, 84);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPictureOutputEvent, temporalId, 88);

/* ---------------------------------------------------------------------------------- */
/* Kinds 18-21: CTU, CU, PU, TU                                                        */
/* ---------------------------------------------------------------------------------- */

/* Block rectangle in luma samples; width and height must be non-zero. */
typedef struct VexiloObserverBlockBounds {
    uint32_t x;
    uint32_t y;
    uint32_t width;
    uint32_t height;
} VexiloObserverBlockBounds;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverBlockBounds, 16);

/* Prediction mode (CU 152, PU 116), 1-3, other = 0. */
#define VEXILO_OBSERVER_PRED_MODE_INTRA 1u
#define VEXILO_OBSERVER_PRED_MODE_INTER 2u
#define VEXILO_OBSERVER_PRED_MODE_SKIP 3u
/* Partition mode (CU 156, PU 120): PartMode + 1, other = 0. */
#define VEXILO_OBSERVER_PART_MODE_2Nx2N 1u
#define VEXILO_OBSERVER_PART_MODE_2NxN 2u
#define VEXILO_OBSERVER_PART_MODE_Nx2N 3u
#define VEXILO_OBSERVER_PART_MODE_NxN 4u
#define VEXILO_OBSERVER_PART_MODE_2NxnU 5u
#define VEXILO_OBSERVER_PART_MODE_2NxnD 6u
#define VEXILO_OBSERVER_PART_MODE_nLx2N 7u
#define VEXILO_OBSERVER_PART_MODE_nRx2N 8u
/* Inter direction (PU 156), 1-3, other = 0. */
#define VEXILO_OBSERVER_INTER_DIRECTION_L0 1u
#define VEXILO_OBSERVER_INTER_DIRECTION_L1 2u
#define VEXILO_OBSERVER_INTER_DIRECTION_BI 3u

typedef struct VexiloObserverCtuEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint32_t ctuAddress;   /* raster scan; batching key of the CTU's blocks */
    uint32_t ctuAddressTs; /* tile scan */
    uint32_t ctuAuxValue;
    VexiloObserverBlockBounds bounds;
    uint32_t parseStatus;    /* 1, 2, other = 0 */
    int32_t parserErrorCode; /* kept when negative */
    uint32_t reserved116;
} VexiloObserverCtuEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverCtuEvent, 120);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCtuEvent, sliceIdentity, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCtuEvent, pictureIdentity, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCtuEvent, ctuAddress, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCtuEvent, ctuAddressTs, 84);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCtuEvent, ctuAuxValue, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCtuEvent, bounds, 92);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCtuEvent, parseStatus, 108);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCtuEvent, parserErrorCode, 112);

/* CU presentMask (offset 104): bit set = the effective value is known. */
#define VEXILO_OBSERVER_CU_DEPTH (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_CU_SPLIT (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_CU_SKIP (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_CU_PREDICTION_MODE (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_CU_PARTITION_MODE (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_CU_PCM (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_CU_TRANSQUANT_BYPASS (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_CU_QP (UINT64_C(1) << 8)
#define VEXILO_OBSERVER_CU_CHROMA_QP_CB (UINT64_C(1) << 9)
#define VEXILO_OBSERVER_CU_CHROMA_QP_CR (UINT64_C(1) << 10)
#define VEXILO_OBSERVER_CU_QP_DELTA (UINT64_C(1) << 11)
#define VEXILO_OBSERVER_CU_CHROMA_QP_OFFSET (UINT64_C(1) << 12)
/* CU signaled mask (offset 96): bit set = the syntax element was signaled. */
#define VEXILO_OBSERVER_CU_SIGNALED_SPLIT (UINT64_C(1) << 0)
#define VEXILO_OBSERVER_CU_SIGNALED_SKIP (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_CU_SIGNALED_PREDICTION_MODE (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_CU_SIGNALED_PARTITION_MODE (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_CU_SIGNALED_PCM (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_CU_SIGNALED_TRANSQUANT_BYPASS (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_CU_SIGNALED_QP_DELTA (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_CU_SIGNALED_CHROMA_QP_OFFSET_FLAG (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_CU_SIGNALED_CHROMA_QP_OFFSET_INDEX (UINT64_C(1) << 8)

typedef struct VexiloObserverCuEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint64_t cuIdentity;       /* quadtree identity; non-zero */
    uint64_t parentCuIdentity; /* 0 = none */
    uint64_t signaledMask;     /* VEXILO_OBSERVER_CU_SIGNALED_* */
    uint64_t presentMask;      /* VEXILO_OBSERVER_CU_* */
    uint32_t ctuAddress;
    uint32_t reserved116;
    uint32_t cuOrderKey; /* secondary sort key */
    VexiloObserverBlockBounds bounds;
    uint32_t depth; /* low byte */
    uint32_t split;
    uint32_t skip;
    uint32_t predictionMode; /* 1-3, other = 0 */
    uint32_t partitionMode;  /* 1-8, other = 0 */
    uint32_t pcm;
    uint32_t transquantBypass;
    int32_t qp; /* 16-bit */
    uint32_t parseStatus;
    int32_t parserErrorCode;
    int32_t chromaQpCb;
    int32_t chromaQpCr;
    int32_t qpDelta;
    uint32_t chromaQpOffsetFlag;
    int32_t chromaQpOffsetIndex;
    int32_t chromaQpOffsetCb;
    int32_t chromaQpOffsetCr;
} VexiloObserverCuEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverCuEvent, 208);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, sliceIdentity, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, pictureIdentity, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, cuIdentity, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, parentCuIdentity, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, signaledMask, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, presentMask, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, ctuAddress, 112);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, reserved116, 116);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, cuOrderKey, 120);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, bounds, 124);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, depth, 140);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, split, 144);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, skip, 148);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, predictionMode, 152);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, partitionMode, 156);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, pcm, 160);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, transquantBypass, 164);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, qp, 168);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, parseStatus, 172);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, parserErrorCode, 176);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, chromaQpCb, 180);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, chromaQpCr, 184);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, qpDelta, 188);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, chromaQpOffsetFlag, 192);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, chromaQpOffsetIndex, 196);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, chromaQpOffsetCb, 200);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverCuEvent, chromaQpOffsetCr, 204);

/* PU presentMaskA (offset 88): bit set = the syntax element was signaled. */
#define VEXILO_OBSERVER_PU_A_SIGNALED_INTRA_LUMA_MODE (UINT64_C(1) << 0)
#define VEXILO_OBSERVER_PU_A_SIGNALED_INTRA_CHROMA_MODE (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_PU_A_SIGNALED_MERGE_FLAG (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_PU_A_SIGNALED_MERGE_INDEX (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_PU_A_SIGNALED_INTER_DIRECTION (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_PU_A_SIGNALED_REF_IDX_L0 (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_PU_A_SIGNALED_REF_IDX_L1 (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_PU_A_SIGNALED_MVD_L0 (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_PU_A_SIGNALED_MVD_L1 (UINT64_C(1) << 8)
/* PU presentMaskB (offset 96): bit set = the effective value is known. */
#define VEXILO_OBSERVER_PU_B_PARTITION_MODE (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_PU_B_PREDICTION_MODE (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_PU_B_INTRA_LUMA_MODE (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_PU_B_INTRA_CHROMA_MODE (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_PU_B_MERGE_FLAG (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_PU_B_MERGE_INDEX (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_PU_B_INTER_DIRECTION (UINT64_C(1) << 8)
#define VEXILO_OBSERVER_PU_B_REF_IDX_L0 (UINT64_C(1) << 9)
#define VEXILO_OBSERVER_PU_B_REF_IDX_L1 (UINT64_C(1) << 10)
#define VEXILO_OBSERVER_PU_B_REF_POC_L0 (UINT64_C(1) << 11)
#define VEXILO_OBSERVER_PU_B_REF_POC_L1 (UINT64_C(1) << 12)
#define VEXILO_OBSERVER_PU_B_MV_L0 (UINT64_C(1) << 15)
#define VEXILO_OBSERVER_PU_B_MV_L1 (UINT64_C(1) << 16)
#define VEXILO_OBSERVER_PU_B_MVD_L0 (UINT64_C(1) << 17)
#define VEXILO_OBSERVER_PU_B_MVD_L1 (UINT64_C(1) << 18)

/* Highest partIndex a PU may carry. */
#define VEXILO_OBSERVER_PU_MAX_PART_INDEX 3u

typedef struct VexiloObserverMotionVector {
    int32_t x; /* quarter luma samples */
    int32_t y;
} VexiloObserverMotionVector;

typedef struct VexiloObserverPuEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint64_t cuIdentity; /* the owning CU */
    uint64_t presentMaskA; /* VEXILO_OBSERVER_PU_A_* */
    uint64_t presentMaskB; /* VEXILO_OBSERVER_PU_B_* */
    uint32_t ctuAddress;
    uint32_t reserved108;
    uint32_t partIndex;      /* 0-3 */
    uint32_t predictionMode; /* 1-3, other = 0 */
    uint32_t partitionMode;  /* 1-8, other = 0 */
    VexiloObserverBlockBounds bounds;
    int32_t intraLumaMode;   /* -1 = none */
    int32_t intraChromaMode; /* -1 = none */
    uint32_t mergeFlag;
    uint32_t mergeIndex;
    uint32_t interDirection; /* 1-3, other = 0 */
    int32_t refIdxL0;        /* -1 = none */
    int32_t refIdxL1;        /* -1 = none */
    int32_t refPocL0;        /* -1 = none */
    int32_t refPocL1;        /* -1 = none */
    uint64_t puL0ReferenceValue;
    uint64_t puL1ReferenceValue;
    VexiloObserverMotionVector mvL0;
    VexiloObserverMotionVector mvL1;
    VexiloObserverMotionVector mvdL0;
    VexiloObserverMotionVector mvdL1;
    uint32_t refStatusL0; /* 1-4, other = 0 */
    uint32_t refStatusL1; /* 1-4, other = 0 */
    uint32_t parseStatus;
    uint32_t parserErrorCode; /* a negative value in two's complement */
} VexiloObserverPuEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverPuEvent, 240);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, sliceIdentity, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, pictureIdentity, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, cuIdentity, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, presentMaskA, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, presentMaskB, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, ctuAddress, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, reserved108, 108);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, partIndex, 112);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, predictionMode, 116);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, partitionMode, 120);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, bounds, 124);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, intraLumaMode, 140);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, intraChromaMode, 144);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, mergeFlag, 148);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, mergeIndex, 152);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, interDirection, 156);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, refIdxL0, 160);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, refIdxL1, 164);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, refPocL0, 168);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, refPocL1, 172);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, puL0ReferenceValue, 176);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, puL1ReferenceValue, 184);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, mvL0, 192);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, mvL1, 200);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, mvdL0, 208);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, mvdL1, 216);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, refStatusL0, 224);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, refStatusL1, 228);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, parseStatus, 232);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverPuEvent, parserErrorCode, 236);

/* TU presentMask (offset 112): bit set = the effective value is known. */
#define VEXILO_OBSERVER_TU_DEPTH (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_TU_SPLIT (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_TU_CBF_LUMA (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_TU_CBF_CB (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_TU_CBF_CR (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_TU_TRANSFORM_SKIP_LUMA (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_TU_TRANSFORM_SKIP_CB (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_TU_TRANSFORM_SKIP_CR (UINT64_C(1) << 8)
#define VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_LUMA (UINT64_C(1) << 9)
#define VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_CB (UINT64_C(1) << 10)
#define VEXILO_OBSERVER_TU_EXPLICIT_RDPCM_CR (UINT64_C(1) << 11)
#define VEXILO_OBSERVER_TU_RDPCM_DIRECTION_LUMA (UINT64_C(1) << 12)
#define VEXILO_OBSERVER_TU_RDPCM_DIRECTION_CB (UINT64_C(1) << 13)
#define VEXILO_OBSERVER_TU_RDPCM_DIRECTION_CR (UINT64_C(1) << 14)
#define VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_LUMA (UINT64_C(1) << 15)
#define VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_CB (UINT64_C(1) << 16)
#define VEXILO_OBSERVER_TU_IMPLICIT_RDPCM_CR (UINT64_C(1) << 17)
#define VEXILO_OBSERVER_TU_QP (UINT64_C(1) << 18)
#define VEXILO_OBSERVER_TU_CHROMA_QP_CB (UINT64_C(1) << 19)
#define VEXILO_OBSERVER_TU_CHROMA_QP_CR (UINT64_C(1) << 20)
#define VEXILO_OBSERVER_TU_QP_DELTA (UINT64_C(1) << 21)
#define VEXILO_OBSERVER_TU_CHROMA_QP_OFFSET (UINT64_C(1) << 22)
#define VEXILO_OBSERVER_TU_TRANSQUANT_BYPASS (UINT64_C(1) << 23)
/* TU signaled mask (offset 104). */
#define VEXILO_OBSERVER_TU_SIGNALED_SPLIT (UINT64_C(1) << 0)
#define VEXILO_OBSERVER_TU_SIGNALED_CBF_LUMA (UINT64_C(1) << 1)
#define VEXILO_OBSERVER_TU_SIGNALED_CBF_CB (UINT64_C(1) << 2)
#define VEXILO_OBSERVER_TU_SIGNALED_CBF_CR (UINT64_C(1) << 3)
#define VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_LUMA (UINT64_C(1) << 4)
#define VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_CB (UINT64_C(1) << 5)
#define VEXILO_OBSERVER_TU_SIGNALED_TRANSFORM_SKIP_CR (UINT64_C(1) << 6)
#define VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_LUMA (UINT64_C(1) << 7)
#define VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_CB (UINT64_C(1) << 8)
#define VEXILO_OBSERVER_TU_SIGNALED_EXPLICIT_RDPCM_CR (UINT64_C(1) << 9)
#define VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_LUMA (UINT64_C(1) << 10)
#define VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_CB (UINT64_C(1) << 11)
#define VEXILO_OBSERVER_TU_SIGNALED_RDPCM_DIRECTION_CR (UINT64_C(1) << 12)
#define VEXILO_OBSERVER_TU_SIGNALED_QP_DELTA (UINT64_C(1) << 13)
#define VEXILO_OBSERVER_TU_SIGNALED_CHROMA_QP_OFFSET_FLAG (UINT64_C(1) << 14)
#define VEXILO_OBSERVER_TU_SIGNALED_CHROMA_QP_OFFSET_INDEX (UINT64_C(1) << 15)

/* Per colour component: luma, Cb, Cr. */
typedef struct VexiloObserverComponentFlags {
    uint32_t luma;
    uint32_t cb;
    uint32_t cr;
} VexiloObserverComponentFlags;

typedef struct VexiloObserverComponentValues {
    int32_t luma;
    int32_t cb;
    int32_t cr;
} VexiloObserverComponentValues;

typedef struct VexiloObserverTuEvent {
    VexiloObserverEventHeader header;
    uint64_t sliceIdentity;
    uint64_t pictureIdentity;
    uint64_t cuIdentity;       /* the owning CU */
    uint64_t tuIdentity;       /* non-zero */
    uint64_t parentTuIdentity; /* 0 = none */
    uint64_t signaledMask;     /* VEXILO_OBSERVER_TU_SIGNALED_* */
    uint64_t presentMask;      /* VEXILO_OBSERVER_TU_* */
    uint32_t ctuAddress;
    uint32_t reserved124;
    uint32_t tuOrderKey; /* secondary sort key */
    VexiloObserverBlockBounds bounds;
    uint32_t depth; /* low byte */
    uint32_t split;
    VexiloObserverComponentFlags codedBlockFlags;
    VexiloObserverComponentFlags transformSkip;
    VexiloObserverComponentFlags explicitRdpcm;
    VexiloObserverComponentFlags implicitRdpcm;
    VexiloObserverComponentValues rdpcmDirection; /* -1 = none */
    uint32_t transquantBypass;
    int32_t qp; /* 16-bit */
    int32_t chromaQpCb;
    int32_t chromaQpCr;
    int32_t qpDelta;
    uint32_t chromaQpOffsetFlag;
    int32_t chromaQpOffsetIndex;
    int32_t chromaQpOffsetCb;
    int32_t chromaQpOffsetCr;
    uint32_t parseStatus;
    uint32_t parserErrorCode; /* a negative value in two's complement */
    uint32_t reserved260;
} VexiloObserverTuEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverTuEvent, 264);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, sliceIdentity, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, pictureIdentity, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, cuIdentity, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, tuIdentity, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, parentTuIdentity, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, signaledMask, 104);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, presentMask, 112);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, ctuAddress, 120);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, reserved124, 124);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, tuOrderKey, 128);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, bounds, 132);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, depth, 148);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, split, 152);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, codedBlockFlags, 156);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, transformSkip, 168);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, explicitRdpcm, 180);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, implicitRdpcm, 192);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, rdpcmDirection, 204);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, transquantBypass, 216);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, qp, 220);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, chromaQpCb, 224);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, chromaQpCr, 228);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, qpDelta, 232);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, chromaQpOffsetFlag, 236);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, chromaQpOffsetIndex, 240);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, chromaQpOffsetCb, 244);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, chromaQpOffsetCr, 248);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, parseStatus, 252);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverTuEvent, parserErrorCode, 256);

/* ---------------------------------------------------------------------------------- */
/* Kind 22: VPS layer set                                                              */
/* ---------------------------------------------------------------------------------- */

#define VEXILO_OBSERVER_LAYER_SET_INDEX_MIN 1u
#define VEXILO_OBSERVER_LAYER_SET_INDEX_MAX 1023u
#define VEXILO_OBSERVER_LAYER_ID_MAX 63u

typedef struct VexiloObserverVpsLayerSetEvent {
    VexiloObserverEventHeader header;
    uint64_t includedLayerMask;
    uint32_t vpsId;         /* the owning VPS */
    uint32_t layerSetIndex; /* 1-1023 */
    uint32_t maxLayerId;    /* 0-63 */
    uint32_t reserved84;
} VexiloObserverVpsLayerSetEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverVpsLayerSetEvent, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverVpsLayerSetEvent, includedLayerMask, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverVpsLayerSetEvent, vpsId, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverVpsLayerSetEvent, layerSetIndex, 76);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverVpsLayerSetEvent, maxLayerId, 80);

/* ---------------------------------------------------------------------------------- */
/* Kind 23: syntax diagnostic                                                          */
/* ---------------------------------------------------------------------------------- */

/* What became of the structure the diagnostic is about. */
#define VEXILO_OBSERVER_DIAGNOSTIC_TOLERATED 1u /* a value out of its range that decoders accept; kept */
#define VEXILO_OBSERVER_DIAGNOSTIC_REJECTED 2u  /* refused and left out of the events */
#define VEXILO_OBSERVER_DIAGNOSTIC_SESSION_FAILED 3u /* the observer failed; no event follows */

#define VEXILO_OBSERVER_DIAGNOSTIC_ELEMENT_BYTES 48u
#define VEXILO_OBSERVER_DIAGNOSTIC_MESSAGE_BYTES 128u

typedef struct VexiloObserverSyntaxDiagnosticEvent {
    VexiloObserverEventHeader header;
    uint64_t nalIdentity; /* the NAL unit it is about; 0 = none */
    /* Bits from the NAL unit's first byte, its header and emulation prevention bytes
     * counted: where the element starts, or where the parser stood when it gave up. */
    uint64_t bitPosition;
    uint32_t nalUnitType;
    uint32_t outcome;          /* VEXILO_OBSERVER_DIAGNOSTIC_* */
    uint32_t bitPositionKnown; /* non-zero = bitPosition is valid */
    uint32_t reserved92;
    char element[VEXILO_OBSERVER_DIAGNOSTIC_ELEMENT_BYTES]; /* syntax element or variable; NUL-terminated, may be empty */
    char message[VEXILO_OBSERVER_DIAGNOSTIC_MESSAGE_BYTES]; /* NUL-terminated */
} VexiloObserverSyntaxDiagnosticEvent;

VEXILO_OBSERVER_CHECK_SIZE(VexiloObserverSyntaxDiagnosticEvent, 272);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSyntaxDiagnosticEvent, nalIdentity, 64);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSyntaxDiagnosticEvent, bitPosition, 72);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSyntaxDiagnosticEvent, nalUnitType, 80);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSyntaxDiagnosticEvent, outcome, 84);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSyntaxDiagnosticEvent, bitPositionKnown, 88);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSyntaxDiagnosticEvent, element, 96);
VEXILO_OBSERVER_CHECK_OFFSET(VexiloObserverSyntaxDiagnosticEvent, message, 144);

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* VEXILO_HEVC_OBSERVER_OBSERVER_ABI_H */
