#pragma once

// Codes and messages of the builder's fatal errors and non-fatal issues.
namespace vexilo::analyzer::builder_codes {

inline constexpr char kPictureIdentity[] = "analyzer.picture_identity";
inline constexpr char kPictureIdentityMessage[] = "Picture output has no decode/display identity";
inline constexpr char kPictureNotIndexedMessage[] = "Picture output was not indexed before structures";
inline constexpr char kPictureOutputOrder[] = "analyzer.picture_output_order";
inline constexpr char kPictureOutputOrderMessage[] = "Lifecycle picture has no HEVC output event";
inline constexpr char kVpsLayerSetIdentity[] = "analyzer.vps_layer_set_identity";
inline constexpr char kVpsLayerSetIdentityMessage[] = "VPS layer-set event has invalid identity or bounds";
inline constexpr char kVpsLayerSetParent[] = "analyzer.vps_layer_set_parent";
inline constexpr char kVpsLayerSetParentMessage[] = "VPS layer-set event has no parent VPS";
inline constexpr char kSliceIdentity[] = "analyzer.slice_identity";
inline constexpr char kSliceIdentityMessage[] = "FFmpeg observer produced a slice without its NAL identity";
inline constexpr char kRpsIdentity[] = "analyzer.rps_identity";
inline constexpr char kShortTermRpsIdentityMessage[] = "Short-term RPS event has no parent slice";
inline constexpr char kLongTermRpsIdentityMessage[] = "Long-term RPS event has no parent slice";
inline constexpr char kRplIdentity[] = "analyzer.rpl_identity";
inline constexpr char kRplIdentityMessage[] = "Reference-list event has no parent slice";
inline constexpr char kDpbIdentity[] = "analyzer.dpb_identity";
inline constexpr char kDpbIdentityMessage[] = "DPB event has no parent slice";
inline constexpr char kReferenceStateIdentity[] = "analyzer.reference_state_identity";
inline constexpr char kReferenceStateIdentityMessage[] = "Reference-state marker has no parent slice";

inline constexpr char kExtradataParameterSet[] = "analyzer.extradata_parameter_set";
inline constexpr char kExtradataParameterSetMessage[] =
    "Some HEVC parameter sets came from decoder extradata without packet byte location";
inline constexpr char kExtradataSei[] = "analyzer.extradata_sei";
inline constexpr char kExtradataSeiMessage[] =
    "Some HEVC SEI messages came from decoder extradata without packet byte location";
inline constexpr char kCtuIdentity[] = "analyzer.ctu_identity";
inline constexpr char kCtuIdentityMessage[] = "Some CTU events have no picture identity";
inline constexpr char kCtuSliceIdentity[] = "analyzer.ctu_slice_identity";
inline constexpr char kCtuSliceIdentityMessage[] = "Some CTU events have no slice identity";
inline constexpr char kCuIdentity[] = "analyzer.cu_identity";
inline constexpr char kCuIdentityMessage[] = "Some CU events have no picture or quadtree identity";
inline constexpr char kPuIdentity[] = "analyzer.pu_identity";
inline constexpr char kPuIdentityMessage[] = "Some PU events have no picture, CU, or part identity";
inline constexpr char kPuSliceIdentity[] = "analyzer.pu_slice_identity";
inline constexpr char kPuSliceIdentityMessage[] = "Some PU events have no slice identity";
inline constexpr char kTuIdentity[] = "analyzer.tu_identity";
inline constexpr char kTuIdentityMessage[] = "Some TU events have no picture, CU, or transform identity";
inline constexpr char kObserverPartial[] = "analyzer.observer_partial";
inline constexpr char kObserverPartialMessage[] = "Some CTU/CU/PU/TU observer events were dropped by bounded collectors";
inline constexpr char kPictureBlocksOmitted[] = "analyzer.picture_blocks_omitted";
inline constexpr char kPictureBlocksOmittedMessage[] =
    "A picture's coding blocks did not fit its cache document and were left out";
inline constexpr char kPacketRejected[] = "analyzer.packet_rejected";
inline constexpr char kPacketRejectedMessage[] = "FFmpeg rejected a damaged packet; decoding went on past it";
inline constexpr char kPictureRejected[] = "analyzer.picture_rejected";
inline constexpr char kPictureRejectedMessage[] =
    "FFmpeg rejected a packet that carried this picture; its decoded samples may be wrong";
inline constexpr char kPictureReferenceMissing[] = "analyzer.picture_reference_missing";
inline constexpr char kPictureReferenceMissingMessage[] =
    "A picture this one is predicted from is missing; the decoder put a generated picture in its place";
inline constexpr char kPictureIncomplete[] = "analyzer.picture_incomplete";
inline constexpr char kPictureIncompleteMessage[] =
    "The picture's slices do not cover it; some of its CTUs are missing";

// Findings of a damaged stream that would otherwise make the document inconsistent.
inline constexpr char kDuplicateIdentity[] = "analyzer.duplicate_identity";
inline constexpr char kDuplicateIdentityMessage[] =
    "Some observer events repeated the identity of an earlier object and were dropped";
inline constexpr char kVpsLayerSetDropped[] = "analyzer.vps_layer_set_dropped";
inline constexpr char kVpsLayerSetDroppedMessage[] =
    "Some VPS layer-set events were outside the VPS layer-set range and were dropped";
inline constexpr char kBlockGeometry[] = "analyzer.block_geometry";
inline constexpr char kBlockGeometryMessage[] =
    "Some CTU/CU/PU/TU events lay outside their picture or parent block and were dropped";

// What the syntax observer said about a structure of one NAL unit, one record each time.
inline constexpr char kSyntaxValueTolerated[] = "analyzer.syntax_value_tolerated";
inline constexpr char kSyntaxValueToleratedMessage[] =
    "A value lay outside its range; decoders accept it and the structure was kept";
inline constexpr char kSyntaxStructureRejected[] = "analyzer.syntax_structure_rejected";
inline constexpr char kSyntaxStructureRejectedMessage[] =
    "The syntax parser refused a structure; it is missing from the analysis";
inline constexpr char kSyntaxObserverFailed[] = "analyzer.syntax_observer_failed";
inline constexpr char kSyntaxObserverFailedMessage[] =
    "The syntax observer failed; the analysis holds what came before";

inline constexpr char kSliceIdDetail[] = "sliceId=";
inline constexpr char kCollectionDetail[] = "collection=";

}  // namespace vexilo::analyzer::builder_codes
