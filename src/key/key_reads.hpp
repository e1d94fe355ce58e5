#pragma once
// The reads a caller makes of one key as a whole: its values with their
// data, one value by name, the nodes of its subkeys.
//
// Each is bounded by the hive: a list naming the same records over and over
// cannot make one call copy more than a few times the image, however long it
// is. On a tolerant hive a subkey that cannot be read is noted and skipped,
// as RegistryKey::values() skips values.

#include <cstdint>
#include <string_view>
#include <vector>

#include "error/failure.hpp"
#include "key/registry_key.hpp"
#include "value/registry_value.hpp"

namespace orvane::key {

// A value record with its bytes read.
struct ValueWithData {
    value::RegistryValue value;
    std::vector<std::uint8_t> data;  // empty when the data cannot be read
};

// The data read for one list of values, bounded by the image: distinct values
// keep their data in distinct cells, so a sound list never holds more bytes
// together than the image. A list naming the same record over and over could
// make one call copy the image again and again; once that much has been read,
// the values left get no bytes, as a value whose data cannot be read.
class DataBudget {
public:
    explicit DataBudget(std::uint64_t limit) noexcept : limit_(limit) {}

    // The bytes `fetch()` gives (anything testable with `!` and holding a byte
    // vector), or none when they cannot be read or no longer fit.
    template <class Fetch>
    std::vector<std::uint8_t> take(Fetch&& fetch) {
        if (spent()) return {};
        auto data = fetch();
        if (!data || !admit(data->size())) return {};
        return std::move(*data);
    }

    // For callers that read the bytes themselves: whether nothing more may be
    // read, and whether `size` more bytes still fit.
    bool spent() const noexcept { return read_ > limit_; }
    bool admit(std::size_t size) noexcept {
        read_ += size;
        return read_ <= limit_;
    }

private:
    std::uint64_t limit_;
    std::uint64_t read_ = 0;
};

// Every value of `key` in list order, each with its data. A value whose data
// cannot be read gets no bytes, nor do the values past a DataBudget of the
// image's length.
[[nodiscard]] Result<std::vector<ValueWithData>> values_with_data(const RegistryKey& key);

// The first value of `key` whose name equals `name` under ASCII case folding
// (only A-Z and a-z are matched across case), with its data; NotFound
// "Value '<name>'" when there is none. A value whose data cannot be read fails
// with that error.
[[nodiscard]] Result<ValueWithData> find_value(const RegistryKey& key, std::string_view name);

// The key nodes of `key`'s subkeys in list order, read through the key cache.
// The names of distinct keys fit in three times the image (decoding grows a
// name at most threefold); a list that names more fails with InvalidFormat
// "Subkey list at offset 0x.. names more than the hive holds".
[[nodiscard]] Checked<std::vector<RegistryKey>> subkey_nodes(const RegistryKey& key);

// Equal under ASCII case folding: only A-Z map onto a-z; every other byte
// (each byte of a non-ASCII character included) must match exactly.
bool equal_ascii_case_folded(std::string_view a, std::string_view b) noexcept;

}  // namespace orvane::key
