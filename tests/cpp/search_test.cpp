// The search's literal matcher (names, and data as UTF-16LE and Latin-1), the
// text runs a regular expression is tested on, and a whole-hive search that
// reads big data through the value-data accessor.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_builder.hpp"
#include "record_builders.hpp"
#include "search/find_literal.hpp"
#include "search/literal_matcher.hpp"
#include "search/text_candidates.hpp"
#include "search/text_context.hpp"
#include "search/text_runs.hpp"

namespace orvane::search {
namespace {

using testing::ascii;
using testing::ByteVector;
using testing::utf16le;

ByteVector concat(std::initializer_list<ByteVector> parts) {
    ByteVector out;
    for (const ByteVector& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

ByteVector latin1(std::u16string_view text) {
    ByteVector out;
    for (char16_t c : text) out.push_back(static_cast<std::uint8_t>(c));
    return out;
}

struct Hit {
    std::uint64_t offset;
    Encoding encoding;
    bool operator==(const Hit&) const = default;
};

struct DataCase {
    const char* name;
    const char* pattern;  // UTF-8
    bool case_sensitive;
    ByteVector data;
    std::vector<Hit> hits;
};

class DataMatch : public ::testing::TestWithParam<DataCase> {};

TEST_P(DataMatch, FindsExactlyTheseHits) {
    const DataCase& c = GetParam();
    auto matcher = LiteralMatcher::create(c.pattern, c.case_sensitive);
    ASSERT_TRUE(matcher.has_value()) << matcher.error().message();
    std::vector<DataHit> found;
    matcher->find_in_data(utils::ByteView(c.data), found);
    std::vector<Hit> got;
    for (const DataHit& hit : found) got.push_back({hit.offset, hit.encoding});
    EXPECT_EQ(got, c.hits);
}

constexpr Encoding U = Encoding::Utf16Le;
constexpr Encoding L = Encoding::Latin1;

INSTANTIATE_TEST_SUITE_P(
    Literal, DataMatch,
    ::testing::Values(
        DataCase{"utf16_even", "needle", false, concat({utf16le(u"a needle")}), {{4, U}}},
        DataCase{"utf16_odd", "needle", false, concat({{0x01}, utf16le(u"needle"), {0, 0}}), {{1, U}}},
        DataCase{"latin1", "needle", false, concat({{0xFF, 0x00}, ascii("needle ascii")}), {{2, L}}},
        DataCase{"ascii_case_folded", "NeEdLe", false, concat({utf16le(u"NEEDLE"), ascii("needle")}),
                 {{0, U}, {12, L}}},
        DataCase{"case_sensitive_misses_other_case", "Needle", true,
                 concat({utf16le(u"needle"), ascii("NEEDLE"), utf16le(u"Needle")}), {{18, U}}},
        DataCase{"latin1_letters_fold", "été", false, concat({latin1(u"ÉTÉ "), utf16le(u"ÉtÉ")}),
                 {{0, L}, {4, U}}},
        DataCase{"greek_folds_in_utf16", "σοφία", false, utf16le(u"ΣΟΦΊΑ"), {{0, U}}},
        DataCase{"beyond_latin1_only_utf16", "日本", false, concat({utf16le(u"x日本"), {0xE6, 0x97}}), {{2, U}}},
        DataCase{"supplementary_character", "a😀", false, utf16le(u"xa\U0001F600"), {{2, U}}},
        DataCase{"one_letter_in_utf16_is_one_hit", "a", false, utf16le(u"ba"), {{2, U}}},
        DataCase{"every_hit_without_overlap", "aa", false, ascii("aaaaa"), {{0, L}, {2, L}}},
        DataCase{"cut_at_the_end", "needle", false, concat({utf16le(u"needl"), ascii("needl")}), {}},
        DataCase{"pattern_longer_than_data", "needle", false, ascii("nee"), {}},
        DataCase{"empty_data", "x", false, {}, {}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(DataMatchBounds, AMatchThatWouldEndPastTheViewIsNone) {
    // The bytes after the view complete the pattern: they must not be read.
    const ByteVector buffer = concat({utf16le(u"xneedle"), ascii("needle")});
    auto matcher = LiteralMatcher::create("needle", false);
    ASSERT_TRUE(matcher.has_value());
    for (const std::size_t cut : {std::size_t{13}, buffer.size() - 1}) {
        std::vector<DataHit> hits;
        matcher->find_in_data(utils::ByteView(utils::Bytes(buffer).first(cut)), hits);
        const std::vector<Hit> expected = cut == 13 ? std::vector<Hit>{} : std::vector<Hit>{{2, U}};
        std::vector<Hit> got;
        for (const DataHit& hit : hits) got.push_back({hit.offset, hit.encoding});
        EXPECT_EQ(got, expected) << cut;
    }
}

TEST(LiteralPattern, EmptyOrMalformedIsRefused) {
    const auto empty = LiteralMatcher::create("", false);
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error().message(), "Invalid format: The search pattern is empty");
    const auto malformed = LiteralMatcher::create("\xC3", false);
    ASSERT_FALSE(malformed.has_value());
    EXPECT_EQ(malformed.error().message(), "Invalid format: The search pattern is not valid UTF-8");
}

struct NameCase {
    const char* name;
    const char* pattern;
    bool case_sensitive;
    std::optional<std::size_t> start;  // in characters
};

class NameMatch : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameMatch, FirstHit) {
    const NameCase& c = GetParam();
    auto matcher = LiteralMatcher::create(c.pattern, c.case_sensitive);
    ASSERT_TRUE(matcher.has_value());
    const auto hit = matcher->find_in_name(c.name);
    EXPECT_EQ(hit ? std::optional<std::size_t>(hit->start) : std::nullopt, c.start);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameMatch,
    ::testing::Values(NameCase{"Services", "VICE", false, 3}, NameCase{"Services", "VICE", true, std::nullopt},
                      NameCase{"aaab", "aab", false, 1}, NameCase{"Größe", "GRÖßE", false, 0},
                      // Simple folding only: ß is not SS.
                      NameCase{"Größe", "GRÖSSE", false, std::nullopt}, NameCase{"xÉté", "été", false, 1},
                      NameCase{"ab", "abc", false, std::nullopt}, NameCase{"", "a", false, std::nullopt}));

TEST(DataContext, StopsAtTheDataAndAtWhatIsNotText) {
    const ByteVector data = concat({{0x00, 0x00}, utf16le(u"C:\\Tools\\needle.exe"), {0x01, 0x00}});
    Match match;
    set_data_context(utils::ByteView(data), {2 + 2 * 9, 12, U}, match);
    EXPECT_EQ(match.before, "C:\\Tools\\");
    EXPECT_EQ(match.text, "needle");
    EXPECT_EQ(match.after, ".exe");
    // Units of other scripts before a Latin-1 match are taken for the bytes
    // about a string; around a match beyond Latin-1 they are its text.
    const ByteVector wide = utf16le(u"\u0202\u0404\\EFI\\boot \u65E5\u672C");
    set_data_context(utils::ByteView(wide), {2 * 7, 8, U}, match);
    EXPECT_EQ((std::vector<std::string>{match.before, match.text, match.after}),
              (std::vector<std::string>{"\\EFI\\", "boot", " "}));
    set_data_context(utils::ByteView(wide), {2 * 12, 2, U}, match);
    EXPECT_EQ(match.before, "\u0202\u0404\\EFI\\boot ");
    const ByteVector bytes = ascii("xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxneedle");
    set_data_context(utils::ByteView(bytes), {30, 6, L}, match);
    EXPECT_EQ(match.before, std::string(context_characters, 'x'));
    EXPECT_EQ(match.after, "");
}

struct RunCase {
    const char* name;
    std::uint32_t type;
    ByteVector data;
    std::vector<std::pair<std::uint64_t, std::string>> runs;  // offset, text
};

class Runs : public ::testing::TestWithParam<RunCase> {};

TEST_P(Runs, AreTheTextsOfTheData) {
    const RunCase& c = GetParam();
    std::vector<TextRun> runs;
    text_runs(value::ValueType::from_code(c.type), utils::ByteView(c.data), runs);
    std::vector<std::pair<std::uint64_t, std::string>> got;
    for (const TextRun& run : runs) got.emplace_back(run.offset, run.text);
    EXPECT_EQ(got, c.runs);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Runs,
    ::testing::Values(
        RunCase{"multi_sz_pieces", 7, concat({utf16le(u"ab"), {0, 0}, utf16le(u"cd"), {0, 0, 0, 0}}),
                {{0, "ab"}, {6, "cd"}}},
        RunCase{"binary_odd_utf16_and_latin1", 3,
                concat({{0x01}, utf16le(u"text"), {0x00, 0x00, 0x02}, ascii("ascii"), {0x03}}),
                {{1, "text"}, {12, "ascii"}}},
        RunCase{"short_runs_are_left_out", 3, concat({utf16le(u"abc"), {0x00, 0x00}, ascii("xyz")}), {}}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(RunOffsets, CountUnitsOfSupplementaryCharacters) {
    const TextRun run{10, Encoding::Utf16Le, "a\xF0\x9F\x98\x80" "b"};
    EXPECT_EQ(run_byte_offset(run, 2), 10u + 2 * 3);
    EXPECT_EQ(run_byte_offset(TextRun{10, Encoding::Latin1, "abc"}, 2), 12u);
}

// A root key with one REG_BINARY value of 20000 bytes held in two big-data
// segments, "needle" in UTF-16LE across the boundary between them.
struct BigDataHive {
    std::shared_ptr<const hive::Hive> hive;
    std::uint64_t needle_at = 16344 - 4;
};

BigDataHive big_data_hive() {
    testing::ImageBuilder b;
    ByteVector data(20000, 0xEE);
    const ByteVector needle = utf16le(u"needle");
    std::copy(needle.begin(), needle.end(), data.begin() + 16344 - 4);
    const std::uint32_t first = b.add_cell(ByteVector(data.begin(), data.begin() + 16344));
    const std::uint32_t second = b.add_cell(ByteVector(data.begin() + 16344, data.end()));
    const std::uint32_t list = b.add_cell(testing::u32_array({first, second}));
    const std::uint32_t db = b.add_cell(testing::db(2, list));
    testing::Vk vk;
    vk.name = ascii("Blob");
    vk.data_size = 20000;
    vk.data_offset = db;
    const std::uint32_t value = b.add_cell(vk.payload());
    const std::uint32_t values = b.add_cell(testing::u32_array({value}));
    const std::uint32_t root = testing::add_key(b, "ROOT", 0, testing::kNoCell, 1, values);
    b.root(root);
    auto loaded = testing::load(b.build());
    EXPECT_TRUE(loaded.has_value());
    return {loaded.has_value() ? *loaded : nullptr};
}

TEST(HiveSearch, FindsDataAcrossBigDataSegments) {
    const BigDataHive built = big_data_hive();
    ASSERT_TRUE(built.hive);
    auto matcher = LiteralMatcher::create("NEEDLE", false);
    ASSERT_TRUE(matcher.has_value());
    auto found = find_literal(*built.hive, *matcher, SearchOptions{});
    ASSERT_TRUE(found.has_value());
    ASSERT_EQ(found->matches.size(), 1u);
    EXPECT_TRUE(found->problems.empty());
    const Match& match = found->matches.front();
    EXPECT_EQ(match.place, Place::Data);
    EXPECT_EQ(match.offset, built.needle_at);
    EXPECT_EQ(match.value_name, "Blob");
    EXPECT_EQ(match.path, std::optional<std::string>(""));
    EXPECT_EQ(match.text, "needle");
}

TEST(HiveSearch, PlacesAreSearchedOnlyWhenAsked) {
    const BigDataHive built = big_data_hive();
    ASSERT_TRUE(built.hive);
    for (const char* pattern : {"root", "blob", "needle"}) {
        auto matcher = LiteralMatcher::create(pattern, false);
        ASSERT_TRUE(matcher.has_value());
        for (int mask = 0; mask < 8; ++mask) {
            const SearchOptions options{(mask & 1) != 0, (mask & 2) != 0, (mask & 4) != 0, false, false};
            auto found = find_literal(*built.hive, *matcher, options);
            ASSERT_TRUE(found.has_value());
            const bool wanted = std::string(pattern) == "root"   ? options.keys
                                : std::string(pattern) == "blob" ? options.values
                                                                 : options.data;
            EXPECT_EQ(found->matches.size(), wanted ? 1u : 0u) << pattern << " " << mask;
        }
    }
}

TEST(HiveSearch, GoesOnPastWhatCannotBeReadAndTellsIt) {
    testing::ImageBuilder b;
    testing::Vk bad;
    bad.name = ascii("NeedleBad");
    bad.data_size = 64;
    bad.data_offset = 0x7FFF0;
    testing::Vk good;
    good.name = ascii("Needle");
    const std::uint32_t bad_cell = b.add_cell(bad.payload());
    const std::uint32_t values = b.add_cell(testing::u32_array({bad_cell, b.add_cell(good.payload())}));
    b.root(testing::add_key(b, "ROOT", 1, 0x7FFF0, 2, values));
    auto hive = testing::load(b.build());
    ASSERT_TRUE(hive.has_value());
    auto matcher = LiteralMatcher::create("needle", false);
    ASSERT_TRUE(matcher.has_value());
    auto found = find_literal(**hive, *matcher, SearchOptions{});
    ASSERT_TRUE(found.has_value());
    std::vector<std::string> names;
    for (const Match& match : found->matches) names.push_back(match.value_name);
    EXPECT_EQ(names, (std::vector<std::string>{"NeedleBad", "Needle"}));
    std::vector<std::string> told;
    for (const SearchProblem& problem : found->problems) told.push_back(problem.path + ": " + problem.what);
    EXPECT_EQ(told, (std::vector<std::string>{": value 'NeedleBad'", ": subkeys"}));
}

TEST(HiveSearch, RegexSpansBecomeMatchesAtDataOffsets) {
    const BigDataHive built = big_data_hive();
    ASSERT_TRUE(built.hive);
    auto texts = collect_texts(*built.hive, SearchOptions{});
    ASSERT_TRUE(texts.has_value());
    std::size_t index = texts->texts.size();
    for (std::size_t i = 0; i < texts->texts.size(); ++i) {
        if (texts->texts[i].run.text == "needle") index = i;
    }
    ASSERT_LT(index, texts->texts.size());
    const Match match = match_in(*texts, index, 2, 4);
    EXPECT_EQ(match.offset, built.needle_at + 4);
    EXPECT_EQ((std::vector<std::string>{match.before, match.text, match.after}),
              (std::vector<std::string>{"ne", "ed", "le"}));
}

}  // namespace
}  // namespace orvane::search
