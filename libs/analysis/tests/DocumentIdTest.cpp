#include "vexilo/analysis/DocumentId.h"

#include <gtest/gtest.h>

namespace vexilo::analyzer {
namespace {

using analysis::StableId;

struct FingerprintCase {
    const char* fingerprint;
    StableId expected;
};

class DocumentIdFromFingerprint : public ::testing::TestWithParam<FingerprintCase> {};

TEST_P(DocumentIdFromFingerprint, DerivesIdentity)
{
    const auto& testCase = GetParam();
    EXPECT_EQ(documentIdFromFingerprint(testCase.fingerprint), testCase.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Fingerprints, DocumentIdFromFingerprint,
    ::testing::Values(
        FingerprintCase{"sha256:0123456789abcdeffedcba98765432100000000000000000ffffffffffffffff",
                        {0x0123456789abcdefULL, 0xfedcba9876543210ULL}},
        FingerprintCase{"sha256:", {0, 1}},
        FingerprintCase{"", {0, 1}},
        FingerprintCase{"sha256:zzzz", {0, 1}},
        FingerprintCase{"sha256:0000000000000000000000000000002a", {0, 0x2a}},
        FingerprintCase{"1234", {0x1234, 0}},
        // Only the text after the first colon counts; non-hex characters are skipped.
        FingerprintCase{"a:b:12-34", {0xb1234, 0}},
        // An odd digit count pairs from the end, as Qt does.
        FingerprintCase{"x:123", {0x0123, 0}}));

TEST(CompactId, PrefersLowWord)
{
    EXPECT_EQ(compactIdFromStableId({5, 7}), 7u);
    EXPECT_EQ(compactIdFromStableId({5, 0}), 5u);
}

}  // namespace
}  // namespace vexilo::analyzer
