#include "table/hive_tables.hpp"

#include <algorithm>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "key/key_metadata.hpp"
#include "key/key_path.hpp"
#include "key/key_reads.hpp"
#include "key/key_walk.hpp"
#include "table/live_keys.hpp"
#include "recovery/plausible_records.hpp"
#include "recovery/recovery.hpp"
#include "utils/strings.hpp"

namespace orvane::table {

namespace {

constexpr Field key_fields[] = {
    {"path", ColumnType::Utf8, false},
    {"name", ColumnType::Utf8, false},
    {"depth", ColumnType::UInt16, false},
    {"last_written", ColumnType::Timestamp, true},
    {"last_written_filetime", ColumnType::UInt64, false},
    {"class_name", ColumnType::Utf8, true},
    {"subkey_count", ColumnType::UInt32, false},
    {"value_count", ColumnType::UInt32, false},
    {"offset", ColumnType::UInt32, false},
    {"parent_offset", ColumnType::UInt32, false},
    {"is_deleted", ColumnType::Bool, false},
};
enum KeyColumn : std::size_t {
    k_path, k_name, k_depth, k_last_written, k_filetime, k_class_name,
    k_subkey_count, k_value_count, k_offset, k_parent_offset, k_deleted,
};

constexpr Field value_fields[] = {
    {"path", ColumnType::Utf8, true},
    {"name", ColumnType::Utf8, false},
    {"type", ColumnType::UInt32, false},
    {"type_name", ColumnType::Utf8Dictionary, false},
    {"size", ColumnType::UInt32, false},
    {"data", ColumnType::Binary, false},
    {"string", ColumnType::Utf8, true},
    {"integer", ColumnType::UInt64, true},
    {"strings", ColumnType::Utf8List, true},
    {"offset", ColumnType::UInt32, false},
    {"is_deleted", ColumnType::Bool, false},
};
enum ValueColumn : std::size_t {
    v_path, v_name, v_type, v_type_name, v_size, v_data, v_string, v_integer, v_strings, v_offset, v_deleted,
};

// Batches beyond this many bytes would gain nothing, and keeping them well
// below what 32-bit offsets address leaves room for the row that ends one.
constexpr std::size_t largest_batch_bytes = std::size_t{1} << 30;

std::size_t backslashes(std::string_view text) noexcept {
    // Text holds few separators among many letters: hopping from one to the
    // next (memchr) beats looking at every byte.
    std::size_t count = 0;
    for (std::size_t at = text.find('\\'); at != std::string_view::npos; at = text.find('\\', at + 1)) ++count;
    return count;
}

// A key's depth: the parts of its path split at backslashes (`parts`), 0
// for the start key's "".
std::uint16_t depth_of(std::string_view path, std::size_t parts) noexcept {
    return path.empty() ? 0 : static_cast<std::uint16_t>(std::min<std::size_t>(parts, 0xFFFF));
}

std::uint16_t depth_of(std::string_view path) noexcept { return depth_of(path, 1 + backslashes(path)); }

// The path's components joined by single backslashes.
std::string normalized(std::string_view path) {
    std::string out;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('\\', start), path.size());
        if (end > start) {
            if (!out.empty()) out += '\\';
            out.append(path.substr(start, end - start));
        }
        start = end + 1;
    }
    return out;
}

// The part of `path` below `prefix` (names compared under ASCII case
// folding), or nullopt when it does not lie there.
std::optional<std::string_view> below(std::string_view path, std::string_view prefix) noexcept {
    if (prefix.empty()) return path;
    if (path.size() < prefix.size() || !key::equal_ascii_case_folded(path.substr(0, prefix.size()), prefix)) {
        return std::nullopt;
    }
    if (path.size() == prefix.size()) return std::string_view{};
    if (path[prefix.size()] != '\\') return std::nullopt;
    return path.substr(prefix.size() + 1);
}

class HiveTable final : public BatchSource {
public:
    HiveTable(std::shared_ptr<const hive::Hive> hive, TableKind kind, TableOptions options,
              std::shared_ptr<recovery::ScanCache> scans, key::RegistryKey start, std::shared_ptr<WalkPlans> plans)
        : hive_(std::move(hive)),
          kind_(kind),
          options_(std::move(options)),
          scans_(std::move(scans)),
          live_(std::move(start), std::move(plans)),
          prefix_(normalized(options_.key_path)),
          budget_(0) {
        options_.batch_rows = std::max<std::size_t>(options_.batch_rows, 1);
        options_.batch_bytes = std::clamp<std::size_t>(options_.batch_bytes, 1, largest_batch_bytes);
    }

    std::span<const Field> fields() const noexcept override { return fields_of(kind_); }

    Checked<bool> next(Batch& out) override {
        if (failure_) {
            error::Failure failure = std::move(*failure_);
            failure_.reset();
            return error::unexpected(std::move(failure));
        }
        out = Batch{};
        const auto& fields = this->fields();
        out.columns.reserve(fields.size());
        for (std::size_t i = 0; i < fields.size(); ++i) {
            out.columns.emplace_back(fields[i].type);
            if (i < sizes_.size()) out.columns.back().reserve(sizes_[i]);
        }
        batch_bytes_ = 0;
        while (!full(out) && phase_ != Phase::Over) {
            if (phase_ == Phase::Live) {
                auto filled = fill_live(out);
                if (!filled) {
                    phase_ = Phase::Over;
                    if (out.rows == 0) return error::unexpected(std::move(filled).error());
                    failure_ = std::move(filled).error();  // after the rows before it
                }
            } else {
                fill_deleted(out);
            }
        }
        sizes_.clear();
        for (Column& column : out.columns) {
            sizes_.push_back(column.sizes());
            // The last batch is mostly shorter than the one it reserved from,
            // and is the one a consumer keeps longest (a small table's only one).
            if (phase_ == Phase::Over) column.trim();
        }
        return out.rows > 0;
    }

private:
    enum class Phase { Live, Deleted, Over };

    bool full(const Batch& out) const noexcept {
        return static_cast<std::size_t>(out.rows) >= options_.batch_rows || batch_bytes_ >= options_.batch_bytes;
    }
    // Whether a row of about `bytes` bytes still belongs in this batch.
    bool room_for(const Batch& out, std::size_t bytes) const noexcept {
        return out.rows == 0 || batch_bytes_ + bytes <= options_.batch_bytes;
    }

    Checked<void> fill_live(Batch& out) {
        while (!full(out)) {
            if (pending_next_ < pending_.size()) {
                const value::RegistryValue& value = pending_[pending_next_];
                if (!pending_data_) pending_data_ = data_of(value);
                if (!room_for(out, row_bytes(live_.path(), value, *pending_data_))) {
                    batch_bytes_ = options_.batch_bytes;  // the row opens the next batch
                    return {};
                }
                append_value(out, live_.path(), value, *pending_data_, false);
                pending_data_.reset();
                ++pending_next_;
                continue;
            }
            ORVANE_ASSIGN_OR_RETURN(const bool more, live_.next());
            if (!more) {
                pending_.clear();
                phase_ = options_.deleted ? Phase::Deleted : Phase::Over;
                return {};
            }
            if (kind_ == TableKind::Keys) {
                ORVANE_ASSIGN_OR_RETURN(const key::RegistryKey* key, live_.key());
                auto class_name = key::read_class_name(*key);
                append_key(out, live_.path(), live_depth(key->node().name), key->node(), key->offset(),
                           class_text(class_name), false);
                continue;
            }
            pending_next_ = 0;
            ORVANE_TRY(key::read_values_into(*hive_, live_.value_list(), live_.value_count(), pending_));
            budget_ = key::DataBudget(hive_->data().size());
        }
        return {};
    }

    // depth_of() the current live key's path, counted from the parts of
    // the path above it, so that no path is searched for backslashes again.
    std::uint16_t live_depth(std::string_view name) {
        const std::size_t depth = live_.depth();
        parts_.resize(depth);  // a walk goes down one level at a time: the key above is at depth - 1
        const std::size_t parts = depth == 0 ? 0 : parts_.back() + 1 + backslashes(name);
        parts_.push_back(parts);
        return depth_of(live_.path(), parts);
    }

    // The bytes of a live value, as values_with_data() reads them: none when
    // they cannot be read or pass the key's budget. A view into the image, or
    // into gathered_ for inline and big data.
    utils::Bytes data_of(const value::RegistryValue& value) {
        if (budget_.spent()) return {};
        auto data = value.data_view(gathered_);
        if (!data || !budget_.admit(data->size())) return {};
        return *data;
    }

    void start_deleted() {
        found_ = scans_ ? scans_->get(*hive_) : std::make_shared<const recovery::Recovery>(recovery::Recovery::scan(*hive_));
        deleted_budget_.emplace(hive_->data().size());
        if (kind_ != TableKind::Values) return;
        // A deleted value's key is the first deleted key, in file order, whose list names it.
        for (const recovery::DeletedKey& key : found_->keys()) {
            std::vector<recovery::DeletedValue> values = found_->values_of(key);
            if (values.empty()) continue;
            const std::string path = found_->partial_path_of(key);
            for (const recovery::DeletedValue& value : values) value_paths_.try_emplace(value.offset, path);
        }
    }

    void fill_deleted(Batch& out) {
        if (!found_) start_deleted();
        if (kind_ == TableKind::Keys) {
            const auto& keys = found_->keys();
            while (!full(out) && deleted_next_ < keys.size()) {
                const recovery::DeletedKey& key = keys[deleted_next_++];
                const std::string path = found_->partial_path_of(key);
                const auto relative = below(path, prefix_);
                if (!relative) continue;
                auto class_name = found_->class_name_of(key);
                append_key(out, *relative, depth_of(*relative), key.node, key.offset,
                           class_text(class_name), true);
            }
            if (deleted_next_ == keys.size()) phase_ = Phase::Over;
            return;
        }
        const auto& values = found_->values();
        while (!full(out) && deleted_next_ < values.size()) {
            const recovery::DeletedValue& value = values[deleted_next_];
            std::optional<std::string_view> path;
            if (auto known = value_paths_.find(value.offset); known != value_paths_.end()) {
                path = below(known->second, prefix_);
                if (!path) {
                    ++deleted_next_;
                    continue;
                }
            } else if (!prefix_.empty()) {
                ++deleted_next_;
                continue;
            }
            if (!deleted_data_) deleted_data_ = deleted_budget_->take([&] { return found_->data_of(value); });
            if (!room_for(out, row_bytes(path.value_or(""), value.value, *deleted_data_))) {
                batch_bytes_ = options_.batch_bytes;
                return;
            }
            append_value(out, path, value.value, *deleted_data_, true);
            deleted_data_.reset();
            ++deleted_next_;
        }
        if (deleted_next_ == values.size()) phase_ = Phase::Over;
    }

    static std::size_t row_bytes(std::string_view path, const value::RegistryValue& value,
                                 utils::Bytes data) noexcept {
        // Decoded text takes about as much again as its bytes.
        return path.size() + value.name.size() + 2 * data.size();
    }

    // The class name a read gave: none when the key has none or it could not be read.
    static std::optional<std::string_view> class_text(const Result<std::optional<std::string>>& read) noexcept {
        if (!read || !*read) return std::nullopt;
        return std::string_view(**read);
    }

    void append_key(Batch& out, std::string_view path, std::uint16_t depth, const key::KeyNode& node,
                    std::uint32_t offset, std::optional<std::string_view> class_name, bool deleted) {
        auto& c = out.columns;
        c[k_path].append_text(path);
        c[k_name].append_text(node.name);
        c[k_depth].append_u16(depth);
        if (node.last_written == 0) {
            c[k_last_written].append_null();
        } else {
            c[k_last_written].append_timestamp(filetime_to_unix_micros(node.last_written));
        }
        c[k_filetime].append_u64(node.last_written);
        if (class_name && c[k_class_name].fits(class_name->size())) {
            c[k_class_name].append_text(*class_name);
        } else {
            c[k_class_name].append_null();
        }
        c[k_subkey_count].append_u32(node.subkey_count);
        c[k_value_count].append_u32(node.value_count);
        c[k_offset].append_u32(offset);
        c[k_parent_offset].append_u32(node.parent_offset);
        c[k_deleted].append_bool(deleted);
        batch_bytes_ += path.size() + node.name.size() + (class_name ? class_name->size() : 0);
        ++out.rows;
    }

    void append_value(Batch& out, std::optional<std::string_view> path, const value::RegistryValue& value,
                      utils::Bytes data, bool deleted) {
        auto& c = out.columns;
        if (path) {
            c[v_path].append_text(*path);
        } else {
            c[v_path].append_null();
        }
        c[v_name].append_text(value.name);
        c[v_type].append_u32(value.value_type.code());
        c[v_type_name].append_dictionary(value.value_type.code(), type_name(value.value_type));
        c[v_size].append_u32(static_cast<std::uint32_t>(data.size()));
        c[v_data].append_bytes(data);
        append_decoded(out, value.value_type, data);
        c[v_offset].append_u32(value.offset);
        c[v_deleted].append_bool(deleted);
        batch_bytes_ += path.value_or("").size() + value.name.size() + data.size();
        ++out.rows;
    }

    // The string, integer and strings cells: what the value's type makes of
    // its bytes, null where it makes nothing or the bytes do not decode.
    void append_decoded(Batch& out, value::ValueType type, utils::Bytes data) {
        auto& c = out.columns;
        bool text = false;  // decoded into text_
        std::optional<std::uint64_t> number;
        bool texts = false;
        using Kind = value::ValueType::Kind;
        if (!data.empty()) {
            const utils::ByteView view(data);
            switch (type.kind()) {
                case Kind::String:
                case Kind::ExpandString:
                case Kind::Link:
                case Kind::MultiString:
                    text = utils::read_utf16_string_into(data, text_);
                    texts = text && type.kind() == Kind::MultiString;
                    break;
                case Kind::Dword:
                    if (auto n = view.u32(0)) number = *n;
                    break;
                case Kind::DwordBigEndian:
                    if (auto n = view.u32(0)) number = __builtin_bswap32(*n);
                    break;
                case Kind::Qword:
                    if (auto n = view.u64(0)) number = *n;
                    break;
                default:
                    break;
            }
        }
        if (number) {
            c[v_integer].append_u64(*number);
        } else {
            c[v_integer].append_null();
        }
        if (texts && c[v_strings].child()->fits(text_.size())) {
            // The pieces between NULs, empty ones dropped, as the decoded value gives them.
            scratch_.clear();
            std::string_view rest = text_;
            while (!rest.empty()) {
                const std::size_t end = std::min(rest.find('\0'), rest.size());
                if (end > 0) scratch_.push_back(rest.substr(0, end));
                rest.remove_prefix(std::min(end + 1, rest.size()));
            }
            c[v_strings].append_texts(scratch_);
        } else {
            c[v_strings].append_null();
        }
        if (text && !texts && c[v_string].fits(text_.size())) {
            batch_bytes_ += text_.size();
            c[v_string].append_text(text_);
        } else {
            c[v_string].append_null();
        }
    }

    const std::string& type_name(value::ValueType type) {
        auto [entry, added] = type_names_.try_emplace(type.code());
        if (added) entry->second = type.name();
        return entry->second;
    }

    std::shared_ptr<const hive::Hive> hive_;  // declared first: the walk reads it until destroyed
    TableKind kind_;
    TableOptions options_;
    std::shared_ptr<recovery::ScanCache> scans_;
    LiveKeys live_;
    std::string prefix_;
    Phase phase_ = Phase::Live;
    std::optional<error::Failure> failure_;  // met after the rows of the batch already built
    std::size_t batch_bytes_ = 0;
    // The values of the current key not yet in a batch, what their data may
    // still take, and the data read for a row that opens the next batch.
    std::vector<value::RegistryValue> pending_;
    std::size_t pending_next_ = 0;
    key::DataBudget budget_;
    std::optional<utils::Bytes> pending_data_;
    std::vector<std::uint8_t> gathered_;
    std::string text_;  // the decoded text of the value being appended
    // The deleted records, and how far they have gone into batches.
    std::shared_ptr<const recovery::Recovery> found_;
    std::size_t deleted_next_ = 0;
    std::optional<std::vector<std::uint8_t>> deleted_data_;  // read for a row that opens the next batch
    std::optional<key::DataBudget> deleted_budget_;
    std::unordered_map<std::uint32_t, std::string> value_paths_;
    std::unordered_map<std::uint32_t, std::string> type_names_;
    std::vector<std::string_view> scratch_;
    std::vector<ColumnSizes> sizes_;  // of the last batch's columns
    std::vector<std::size_t> parts_;  // parts_[d]: the path parts of the current live key's ancestor at depth d
};

}  // namespace

std::span<const Field> keys_fields() noexcept { return key_fields; }
std::span<const Field> values_fields() noexcept { return value_fields; }
std::span<const Field> fields_of(TableKind kind) noexcept {
    return kind == TableKind::Keys ? keys_fields() : values_fields();
}

std::int64_t filetime_to_unix_micros(std::uint64_t filetime) noexcept {
    constexpr std::int64_t micros_1601_to_1970 = 11'644'473'600'000'000;
    return static_cast<std::int64_t>(filetime / 10) - micros_1601_to_1970;
}

Checked<std::unique_ptr<BatchSource>> open_table(std::shared_ptr<const hive::Hive> hive, TableKind kind,
                                                 TableOptions options, std::shared_ptr<recovery::ScanCache> scans,
                                                 std::shared_ptr<WalkPlans> plans) {
    ORVANE_ASSIGN_OR_RETURN(const key::RegistryKey root, hive->get_key(hive->base_block().root_cell_offset));
    ORVANE_ASSIGN_OR_RETURN(key::RegistryKey start, key::open_key_path(root, options.key_path));
    return std::unique_ptr<BatchSource>(
        std::make_unique<HiveTable>(std::move(hive), kind, std::move(options), std::move(scans), std::move(start),
                                    std::move(plans)));
}

}  // namespace orvane::table
