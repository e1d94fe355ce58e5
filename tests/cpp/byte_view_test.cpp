// The checked view: every read inside the range succeeds, every read past it
// fails with the exact TruncatedData or InvalidSignature error.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "utils/byte_view.hpp"

namespace orvane::utils {
namespace {

using ByteVector = std::vector<std::uint8_t>;

// "ok <value>" or the error message.
template <class T>
std::string outcome(const Result<T>& result) {
    if (!result) return result.error().message();
    if constexpr (std::is_void_v<T>) {
        return "ok";
    } else if constexpr (std::is_same_v<T, ByteView>) {
        return "ok " + std::to_string(result->size()) + " bytes";
    } else if constexpr (std::is_integral_v<T>) {
        return "ok " + std::to_string(*result);
    } else {
        return "ok " + std::to_string(result->view().size()) + " bytes";
    }
}

struct ReadCase {
    std::string name;
    std::function<std::string(const ByteView&)> read;
    std::string expected;
};

class ByteViewReads : public ::testing::TestWithParam<ReadCase> {};

// Ten bytes 1..10, as the cell at offset 0x20.
TEST_P(ByteViewReads, ChecksEveryRead) {
    const ByteVector bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(GetParam().read(ByteView(bytes, 0x20)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ByteViewReads,
    ::testing::Values(
        ReadCase{"u16_last", [](const ByteView& v) { return outcome(v.u16(8)); }, "ok 2569"},
        ReadCase{"u16_past", [](const ByteView& v) { return outcome(v.u16(9)); },
                 "Truncated data at offset 0x29: expected 2 bytes, got 1 bytes"},
        ReadCase{"u32_inside", [](const ByteView& v) { return outcome(v.u32(2)); }, "ok 100992003"},
        ReadCase{"u32_partly_past", [](const ByteView& v) { return outcome(v.u32(8)); },
                 "Truncated data at offset 0x28: expected 4 bytes, got 2 bytes"},
        ReadCase{"u32_at_end", [](const ByteView& v) { return outcome(v.u32(10)); },
                 "Truncated data at offset 0x2a: expected 4 bytes, got 0 bytes"},
        ReadCase{"u64_inside", [](const ByteView& v) { return outcome(v.u64(2)); }, "ok 723118041428460547"},
        ReadCase{"u64_past", [](const ByteView& v) { return outcome(v.u64(3)); },
                 "Truncated data at offset 0x23: expected 8 bytes, got 7 bytes"},
        ReadCase{"require_all", [](const ByteView& v) { return outcome(v.require(10)); }, "ok"},
        ReadCase{"require_more", [](const ByteView& v) { return outcome(v.require(11)); },
                 "Truncated data at offset 0x20: expected 11 bytes, got 10 bytes"},
        ReadCase{"slice_past_names_the_record", [](const ByteView& v) { return outcome(v.slice(6, 5)); },
                 "Truncated data at offset 0x20: expected 11 bytes, got 10 bytes"},
        ReadCase{"slice_overflowing", [](const ByteView& v) { return outcome(v.slice(~std::uint64_t{0}, 2)); },
                 "Truncated data at offset 0x20: expected 1 bytes, got 10 bytes"},
        ReadCase{"slice_keeps_origin",
                 [](const ByteView& v) { return outcome(v.slice(6, 4)->u32(1)); },
                 "Truncated data at offset 0x21: expected 4 bytes, got 3 bytes"},
        ReadCase{"fixed_short", [](const ByteView& v) { return outcome(v.fixed<12>()); },
                 "Truncated data at offset 0x20: expected 12 bytes, got 10 bytes"},
        ReadCase{"fixed_reads", [](const ByteView& v) { return outcome(Result<std::uint32_t>(v.fixed<8>()->u32<4>())); },
                 "ok 134678021"},
        ReadCase{"fixed_at_past", [](const ByteView& v) { return outcome(v.fixed_at<4>(8)); },
                 "Truncated data at offset 0x20: expected 12 bytes, got 10 bytes"},
        ReadCase{"fixed_at_reads",
                 [](const ByteView& v) { return outcome(Result<std::uint16_t>(v.fixed_at<2>(8)->u16<0>())); },
                 "ok 2569"},
        ReadCase{"rest_past_end_is_empty", [](const ByteView& v) { return std::to_string(v.rest(99).size()); },
                 "0"},
        ReadCase{"first_clamps", [](const ByteView& v) { return std::to_string(v.first(99).size()); }, "10"}),
    [](const auto& test) { return test.param.name; });

TEST(ByteViewReads, FarPastTheEndNamesTheLowBitsOfThePosition) {
    const ByteVector bytes(10, 0);
    EXPECT_EQ(outcome(ByteView(bytes).u32(SIZE_MAX)),
              "Truncated data at offset 0xffffffff: expected 4 bytes, got 0 bytes");
}

TEST(ByteViewReads, EmptyTailPointsIntoTheRange) {
    const ByteVector bytes(10, 0);
    EXPECT_EQ(ByteView(bytes).rest(10).bytes().data(), bytes.data() + 10);
    EXPECT_EQ(outcome(ByteView(bytes).slice(4, 6)), "ok 6 bytes");
}

struct SignatureCase {
    std::string name;
    ByteVector bytes;
    std::size_t at;
    std::string expected;
};

class ByteViewSignature : public ::testing::TestWithParam<SignatureCase> {};

TEST_P(ByteViewSignature, ExpectsTheExactBytes) {
    const ByteView view(GetParam().bytes);
    EXPECT_EQ(outcome(view.expect_signature(GetParam().at, "regf")), GetParam().expected);
    EXPECT_EQ(view.has_signature(GetParam().at, "regf"), GetParam().expected == "ok");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ByteViewSignature,
    ::testing::Values(
        SignatureCase{"match", {'r', 'e', 'g', 'f'}, 0, "ok"},
        SignatureCase{"match_later", {0, 'r', 'e', 'g', 'f'}, 1, "ok"},
        SignatureCase{"different", {'r', 'e', 'g', 'F'}, 0, "Invalid signature: expected \"regf\", found \"regF\""},
        SignatureCase{"cut_short", {'r', 'e', 'g'}, 0, "Invalid signature: expected \"regf\", found \"reg\""},
        SignatureCase{"past_end", {'r', 'e', 'g', 'f'}, 9, "Invalid signature: expected \"regf\", found \"\""}),
    [](const auto& test) { return test.param.name; });

TEST(ByteViewSignature, TellsEveryByteApartAtEveryLength) {
    // Two- and four-letter signatures are compared as one word, others byte by byte.
    for (const std::string_view signature : {"n", "nk", "abc", "regf", "hbin5", "HvLE0123"}) {
        SCOPED_TRACE(std::string(signature));
        ByteVector bytes{0x00};
        bytes.insert(bytes.end(), signature.begin(), signature.end());
        bytes.push_back(0xFF);
        EXPECT_TRUE(ByteView(bytes).has_signature(1, signature));
        EXPECT_FALSE(ByteView(bytes).has_signature(0, signature));
        EXPECT_FALSE(ByteView(bytes).first(signature.size()).has_signature(1, signature));  // one byte short
        for (std::size_t i = 0; i < signature.size(); ++i) {
            ByteVector changed = bytes;
            changed[1 + i] ^= 0x20;
            EXPECT_FALSE(ByteView(changed).has_signature(1, signature)) << "byte " << i;
        }
    }
}

}  // namespace
}  // namespace orvane::utils
