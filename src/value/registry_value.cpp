#include "value/registry_value.hpp"

#include <algorithm>

#include "hive/hive.hpp"
#include "hive/layout.hpp"
#include "utils/strings.hpp"

namespace orvane::value {

namespace {

namespace vk = vk_layout;

constexpr std::uint32_t no_cell = 0xFFFFFFFF;
constexpr const char* default_value_name = "(default)";
constexpr std::size_t inline_limit = 4;  // sizes 1 to 4 live in the data offset field itself
constexpr std::uint32_t legacy_minor_version = 3;  // hives without big-data records


Result<std::vector<std::uint8_t>> gather_big_data(const hive::Hive& hive, std::uint32_t db_offset, std::uint32_t size) {
    namespace db = db_layout;
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView view, hive.get_cell(db_offset));
    ORVANE_ASSIGN_OR_RETURN(const auto record, view.fixed<db::minimum_size>());
    if (!view.has_signature(0, db::signature)) {
        const auto found = record.field<0, 2>();
        return error::fail(error::invalid_format("Expected 'db' signature at offset " + error::hex(db_offset) +
                                                 ", found [" + std::to_string(found[0]) + ", " +
                                                 std::to_string(found[1]) + "]"));
    }
    std::size_t count = record.u16<db::segment_count>();
    const std::uint32_t list_offset = record.u32<db::segment_list_offset>();
    // Fetched and tested even for a count of 0.
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView list, hive.get_cell(list_offset));
    error::ProblemLog* const problems = hive.problem_log();
    if (auto whole = list.require(4 * count); !whole) {
        if (!problems) return error::unexpected(std::move(whole).error());
        problems->note("Big data segment list at offset " + error::hex(list_offset) + " cut short", whole.error());
        count = list.size() / 4;
    }

    // Distinct segments are distinct cells, so a sound value never holds more
    // bytes than the hive bins area. A list naming one cell over and over could
    // otherwise turn a 300 KiB file into 1 GiB of data for every read; such a
    // value is cut at that length, as a value with too few segments is.
    const std::uint64_t limit =
        std::min<std::uint64_t>(size, hive.data().size() - std::min(hive.data().size(), hive::layout::base_block_size));

    // First find the segments that are needed, then copy them: the result is
    // reserved at its exact final size, never at a size merely claimed by the
    // record (a hostile one may claim 2 GiB).
    std::vector<utils::ByteView> segments;
    std::uint64_t gathered = 0;
    for (std::size_t i = 0; i < count && gathered < limit; ++i) {
        ORVANE_ASSIGN_OR_RETURN(const std::uint32_t entry, list.u32(4 * i));
        auto fetched = hive.get_cell(entry & db::segment_offset_mask);
        if (!fetched) {
            if (!problems) return error::unexpected(std::move(fetched).error());
            // A tolerant read returns the bytes gathered up to the first missing segment.
            problems->note("Big data at offset " + error::hex(db_offset) + " cut short", fetched.error());
            break;
        }
        const utils::ByteView segment = *fetched;
        // Bytes of a segment beyond 16344 are slack.
        segments.push_back(segment.first(vk::largest_single_cell));
        gathered += segments.back().size();
    }
    std::vector<std::uint8_t> data;
    data.reserve(static_cast<std::size_t>(std::min(gathered, limit)));
    for (const utils::ByteView segment : segments) {
        const utils::Bytes taken = segment.first(static_cast<std::size_t>(limit) - data.size()).bytes();
        data.insert(data.end(), taken.begin(), taken.end());
    }
    return data;
}

}  // namespace

Result<RegistryValue> decode_value_record(utils::ByteView view, const hive::Hive& hive) {
    const std::uint32_t offset = view.origin();
    ORVANE_ASSIGN_OR_RETURN(const auto record, view.fixed<vk::minimum_size>());
    if (!view.has_signature(0, vk::signature)) {
        return error::fail(error::record_signature_expected(vk::signature, offset));
    }
    RegistryValue value;
    value.name_length = record.u16<vk::name_length>();
    value.data_size = record.u32<vk::data_size>() & vk::data_size_mask;
    value.data_offset = record.u32<vk::data_offset>();
    value.value_type = value::ValueType::from_code(record.u32<vk::data_type>());
    value.flags = record.u16<vk::flags>();
    value.offset = offset;
    value.hive = &hive;

    if (value.name_length == 0) {
        value.name = default_value_name;
        return value;
    }
    ORVANE_ASSIGN_OR_RETURN(const utils::ByteView name, view.slice(vk::name, value.name_length));
    if (value.flags & vk::ascii_name_flag) {
        value.name = utils::read_ascii_string(name.bytes());
    } else {
        ORVANE_ASSIGN_OR_RETURN(value.name, utils::read_utf16_name(name.bytes(), offset, hive.problem_log()));
    }
    return value;
}

Result<std::vector<std::uint8_t>> RegistryValue::raw_data() const {
    std::vector<std::uint8_t> gathered;
    ORVANE_ASSIGN_OR_RETURN(const utils::Bytes data, data_view(gathered));
    // Inline and big data are already in `gathered`: moved, not copied again.
    if (!data.empty() && data.data() == gathered.data()) {
        gathered.resize(data.size());
        return gathered;
    }
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

Result<utils::Bytes> RegistryValue::data_view(std::vector<std::uint8_t>& gathered) const {
    auto data = read_data(gathered);
    if (!data) {
        if (error::ProblemLog* problems = hive->problem_log()) {
            problems->note("Unreadable value data at offset " + error::hex(data_offset), data.error());
        }
    }
    return data;
}

Result<utils::Bytes> RegistryValue::read_data(std::vector<std::uint8_t>& gathered) const {
    const std::uint32_t size = data_size & vk::data_size_mask;
    if (size >= 1 && size <= inline_limit) {
        // The field's bytes as they lie in the file, low-order byte first.
        gathered.resize(4);
        utils::store_u32(gathered.data(), data_offset);
        return utils::Bytes(gathered).first(size);
    }
    if (size == 0 || data_offset == 0 || data_offset == no_cell) return utils::Bytes{};
    if (size <= vk::largest_single_cell) {
        ORVANE_ASSIGN_OR_RETURN(const utils::ByteView cell, hive->get_cell(data_offset));
        return cell.first(size).bytes();  // a shorter cell gives fewer bytes, not an error
    }
    if (hive->base_block().minor_version <= legacy_minor_version) {
        // Version 1.3 hives predate big-data records and keep a large value in
        // one plain cell: read it so, unless the cell really is a "db" record.
        ORVANE_ASSIGN_OR_RETURN(const utils::ByteView cell, hive->get_cell(data_offset));
        if (!cell.has_signature(0, db_layout::signature)) return cell.first(size).bytes();
    }
    ORVANE_ASSIGN_OR_RETURN(gathered, gather_big_data(*hive, data_offset, size));
    return utils::Bytes(gathered);
}

}  // namespace orvane::value
