// The hbin walk and cell access.

#include <gtest/gtest.h>

#include "image_builder.hpp"

namespace orvane::hive {
namespace {

using testing::ByteVector;
using testing::ImageBuilder;
using testing::load;

std::string walk(const ByteVector& image, std::vector<std::pair<std::uint32_t, std::uint32_t>>* headers = nullptr) {
    const auto hive = load(image);
    if (!hive.has_value()) return "load failed: " + hive.error().message();
    const auto result = (*hive)->hbins();
    if (!result.has_value()) return result.error().message();
    if (headers != nullptr) {
        for (const auto& h : *result) headers->emplace_back(h.offset, h.size);
    }
    return "ok";
}

using Headers = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

struct WalkCase {
    const char* name;
    std::function<ByteVector()> image;
    std::string outcome;
    Headers headers;
};

class HbinWalkTest : public ::testing::TestWithParam<WalkCase> {};

TEST_P(HbinWalkTest, Walks) {
    Headers headers;
    EXPECT_EQ(walk(GetParam().image(), &headers), GetParam().outcome);
    if (GetParam().outcome == "ok") {
        EXPECT_EQ(headers, GetParam().headers);
    }
}

ByteVector with_tail(std::size_t tail_bytes) {
    ImageBuilder b;
    b.add_hbin();
    b.raw().resize(b.raw().size() + tail_bytes, 0);
    return b.build();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HbinWalkTest,
    ::testing::Values(
        WalkCase{"no_bins", [] { return ImageBuilder().build(); }, "ok", {}},
        WalkCase{"one_bin", [] { ImageBuilder b; b.add_hbin(); return b.build(); }, "ok", {{0, 4096}}},
        WalkCase{"three_bins",
                 [] { ImageBuilder b; b.add_hbin(); b.add_hbin(8192); b.add_hbin(); return b.build(); }, "ok",
                 {{0, 4096}, {4096, 8192}, {12288, 4096}}},
        WalkCase{"offset_mismatch",
                 [] { ImageBuilder b; b.add_hbin(); b.u32_at(4096 + 4, 0x10); return b.build(); },
                 "Invalid format: Hbin offset mismatch: expected 0x0, found 0x10", {}},
        WalkCase{"second_bin_mismatch",
                 [] { ImageBuilder b; b.add_hbin(); b.add_hbin(); b.u32_at(8192 + 4, 0x2000); return b.build(); },
                 "Invalid format: Hbin offset mismatch: expected 0x1000, found 0x2000", {}},
        WalkCase{"twenty_byte_tail", [] { return with_tail(20); },
                 "Truncated data at offset 0x1000: expected 32 bytes, got 20 bytes", {}},
        WalkCase{"zero_tail_of_32", [] { return with_tail(32); }, "ok", {{0, 4096}}},
        WalkCase{"zero_tail_of_4096", [] { return with_tail(4096); }, "ok", {{0, 4096}}},
        WalkCase{"size_past_end_listed",
                 [] { ImageBuilder b; b.add_hbin(); b.u32_at(4096 + 8, 0x10000); return b.build(); }, "ok",
                 {{0, 0x10000}}},
        WalkCase{"odd_size_accepted",
                 [] {
                     ImageBuilder b;
                     b.add_hbin();
                     b.u32_at(4096 + 8, 100);
                     b.bytes_at(4096 + 100, testing::ascii("hbin")).u32_at(4096 + 104, 100).u32_at(4096 + 108, 3996);
                     return b.build();
                 },
                 "ok", {{0, 100}, {100, 3996}}},
        // Past the recorded data size, a stale header ends the list; inside it,
        // or when no size is recorded, it is an error.
        WalkCase{"stale_bin_past_recorded_size_ends_walk",
                 [] { ImageBuilder b; b.add_hbin(); b.add_hbin(); b.u32_at(8192 + 4, 0x13b2000).u32_at(40, 0x1000);
                      return b.build(); },
                 "ok", {{0, 4096}}},
        WalkCase{"stale_bin_inside_recorded_size_fails",
                 [] { ImageBuilder b; b.add_hbin(); b.add_hbin(); b.u32_at(8192 + 4, 0x13b2000); return b.build(); },
                 "Invalid format: Hbin offset mismatch: expected 0x1000, found 0x13b2000", {}},
        WalkCase{"mismatch_with_no_recorded_size_fails",
                 [] { ImageBuilder b; b.add_hbin(); b.u32_at(4096 + 4, 0x10).u32_at(40, 0); return b.build(); },
                 "Invalid format: Hbin offset mismatch: expected 0x0, found 0x10", {}},
        // A bin of size 0 ends the list there instead of being visited forever.
        WalkCase{"zero_size_bin_ends_walk",
                 [] { ImageBuilder b; b.add_hbin(); b.add_hbin(); b.u32_at(4096 + 4096 + 8, 0); return b.build(); },
                 "ok", {{0, 4096}, {4096, 0}}},
        // Sizes adding past 4 GiB must not wrap the 64-bit position back into the image.
        WalkCase{"huge_size_ends_walk",
                 [] { ImageBuilder b; b.add_hbin(); b.u32_at(4096 + 8, 0xFFFFFFFF); return b.build(); }, "ok",
                 {{0, 0xFFFFFFFF}}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(HbinWalk, CopiesEveryHeaderField) {
    ImageBuilder b;
    b.add_hbin();
    b.u64_at(4096 + 12, 0x1111222233334444ull).u64_at(4096 + 20, 0x5555666677778888ull).u32_at(4096 + 28, 0x9999);
    const auto hive = load(b.build());
    ASSERT_TRUE(hive.has_value());
    const auto headers = (*hive)->hbins();
    ASSERT_TRUE(headers.has_value());
    ASSERT_EQ(headers->size(), 1u);
    const HbinHeader& h = headers->front();
    EXPECT_EQ(std::string(h.signature.begin(), h.signature.end()), "hbin");
    EXPECT_EQ(h.reserved, 0x1111222233334444ull);
    EXPECT_EQ(h.timestamp, 0x5555666677778888ull);
    EXPECT_EQ(h.spare, 0x9999u);
}

// get_cell: one image with cells of chosen size words.
struct CellCase {
    const char* name;
    std::uint32_t offset;
    std::string outcome;  // "payload N" or the error text
};

class GetCellTest : public ::testing::TestWithParam<CellCase> {
protected:
    static ByteVector image() {
        ImageBuilder b;
        b.add_hbin(4096);                   // cells at 0x20 onward, image is 8192 bytes
        b.u32_at(4096 + 0x20, static_cast<std::uint32_t>(-32));  // allocated, 28-byte payload
        b.u32_at(4096 + 0x40, 32);                               // free, 28-byte payload
        b.u32_at(4096 + 0x60, 0);                                // size 0
        b.u32_at(4096 + 0x70, static_cast<std::uint32_t>(-3));   // size -3
        b.u32_at(4096 + 0x80, 0x80000000);                       // INT32_MIN
        b.u32_at(4096 + 0x90, static_cast<std::uint32_t>(-4));   // empty payload
        b.u32_at(4096 + 0xF00, static_cast<std::uint32_t>(-0x200));  // runs past the end
        b.u32_at(4096 + 0xFF8, static_cast<std::uint32_t>(-8));  // ends exactly at the end
        return b.build();
    }
};

TEST_P(GetCellTest, Fetches) {
    const auto hive = load(image());
    ASSERT_TRUE(hive.has_value());
    const auto cell = (*hive)->get_cell(GetParam().offset);
    const std::string outcome =
        cell.has_value() ? "payload " + std::to_string(cell->size()) : cell.error().message();
    EXPECT_EQ(outcome, GetParam().outcome);
    if (cell.has_value()) {
        // The payload is a view into the image, right after the size word.
        EXPECT_EQ(cell->bytes().data(), (*hive)->data().data() + 4096 + GetParam().offset + 4);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GetCellTest,
    ::testing::Values(CellCase{"allocated", 0x20, "payload 28"}, CellCase{"free_reads_alike", 0x40, "payload 28"},
                      CellCase{"size_zero", 0x60, "Invalid cell size 0 at offset 0x60"},
                      CellCase{"size_minus_three", 0x70, "Invalid cell size -3 at offset 0x70"},
                      CellCase{"size_int_min", 0x80,
                               "Truncated data at offset 0x80: expected 2147483648 bytes, got 3968 bytes"},
                      CellCase{"empty_payload", 0x90, "payload 0"},
                      CellCase{"runs_past_end", 0xF00, "Truncated data at offset 0xf00: expected 512 bytes, got 256 bytes"},
                      CellCase{"ends_at_end", 0xFF8, "payload 4"},
                      CellCase{"two_bytes_left", 0xFFE, "Truncated data at offset 0xffe: expected 4 bytes, got 2 bytes"},
                      CellCase{"at_image_end", 0x1000, "Invalid offset 0x1000 (hive size: 0x2000)"},
                      CellCase{"largest_offset", 0xFFFFEFFF, "Invalid offset 0xffffefff (hive size: 0x2000)"},
                      CellCase{"offset_overflows", 0xFFFFF000, "Invalid offset 0xfffff000 (hive size: 0x0)"},
                      CellCase{"all_ones", 0xFFFFFFFF, "Invalid offset 0xffffffff (hive size: 0x0)"},
                      CellCase{"zero_reads_hbin_header", 0,
                               "Truncated data at offset 0x0: expected 1852400232 bytes, got 4096 bytes"}),
    [](const auto& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace orvane::hive
