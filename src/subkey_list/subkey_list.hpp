#pragma once
// A decoded subkey list cell: "li", "lf"/"lh" or "ri".

#include <cstdint>
#include <utility>
#include <variant>
#include <vector>

#include "error/problem_log.hpp"
#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"

namespace orvane::subkey_list {

struct IndexLeaf {
    std::vector<std::uint32_t> key_offsets;
};
struct HashLeaf {
    std::vector<std::pair<std::uint32_t, std::uint32_t>> entries;  // key offset, name hash
};
struct RootIndex {
    std::vector<std::uint32_t> list_offsets;
};

using SubkeyList = std::variant<IndexLeaf, HashLeaf, RootIndex>;

// Decodes the payload of the list cell at `offset` (the offset only goes into
// errors): TruncatedData below 4 bytes, InvalidSubkeyListType for an unknown
// signature, TruncatedData when the elements do not fit. Given a problem log
// (a tolerant hive), elements that do not fit are noted and the list holds the
// ones that do.
[[nodiscard]] Result<SubkeyList> decode_subkey_list(utils::Bytes payload, std::uint32_t offset,
                                                    error::ProblemLog* problems = nullptr);

}  // namespace orvane::subkey_list
