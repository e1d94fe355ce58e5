#include <unordered_set>

#include "hive/hive.hpp"
#include "hive/layout.hpp"
#include "key/registry_key.hpp"
#include "subkey_list/subkey_entries.hpp"
#include "subkey_list/subkey_list.hpp"
#include "base/overloaded.hpp"

namespace orvane::subkey_list {

namespace {

constexpr std::uint32_t no_list = 0xFFFFFFFF;
// Real hives nest root indexes one level deep; the cap only stops hostile
// chains before they exhaust the stack.
constexpr unsigned max_depth = 32;

// One depth-first collection over a subkey list and the lists its root
// indexes name. A root index may name its own ancestors, or the same big leaf
// thousands of times, so every list may be read at most once, nesting is
// capped, and the elements read overall may not outnumber the 4-byte slots of
// the hive bins area (which bounds overlapping lists carved out of one cell).
// `Sink` is the caller's output: it takes each leaf's entries (and for a hash
// leaf, whether it is an "lf" list).
template <class Sink>
class Collection {
public:
    Collection(const hive::Hive& hive, Sink sink)
        : hive_(hive),
          sink_(std::move(sink)),
          entry_limit_((hive.data().size() - hive::layout::base_block_size) / 4),
          problems_(hive.problem_log()) {}

    // Strict: the first failure ends the collection. Tolerant: each list that
    // fails is noted and skipped, and the collection goes on with the next,
    // until the entry limit, which ends it.
    Result<void> collect(std::uint32_t list_offset, unsigned depth) {
        auto collected = collect_list(list_offset, depth);
        if (collected || !problems_) return collected;
        problems_->note("Skipped subkey list at offset " + error::hex(list_offset), collected.error());
        return {};
    }

private:
    Result<void> collect_list(std::uint32_t list_offset, unsigned depth) {
        if (list_offset == 0 || list_offset == no_list || exhausted_) return {};
        if (depth > 1) {
            if (!visited_.insert(list_offset).second) {
                return error::unexpected(error::invalid_format(
                    "Subkey list at offset " + error::hex(list_offset) + " is named more than once"));
            }
            if (depth > max_depth) {
                return error::unexpected(error::invalid_format("Subkey lists nested deeper than " +
                                                               std::to_string(max_depth) + " levels at offset " +
                                                               error::hex(list_offset)));
            }
        }
        ORVANE_ASSIGN_OR_RETURN(const utils::ByteView payload, hive_.get_cell(list_offset));
        ORVANE_ASSIGN_OR_RETURN(subkey_list::SubkeyList list,
                                subkey_list::decode_subkey_list(payload.bytes(), list_offset, problems_));

        const std::size_t count = std::visit(
            base::Overloaded{
                [](const subkey_list::IndexLeaf& l) { return l.key_offsets.size(); },
                [](const subkey_list::HashLeaf& l) { return l.entries.size(); },
                [](const subkey_list::RootIndex& l) { return l.list_offsets.size(); },
            },
            list);
        entries_ += count;
        if (entries_ > entry_limit_) {
            exhausted_ = true;
            return error::unexpected(subkey_entries_exceed_hive(list_offset));
        }

        if (const auto* leaf = std::get_if<subkey_list::IndexLeaf>(&list)) {
            sink_(*leaf);
        } else if (const auto* hashed = std::get_if<subkey_list::HashLeaf>(&list)) {
            sink_(*hashed, /*name_hints=*/payload.has_signature(0, "lf"));  // "lf" holds hints, "lh" hashes
        } else {
            const auto& index = std::get<subkey_list::RootIndex>(list);
            // A leaf at the top needs no record; a root index must not be named again below itself.
            if (depth == 1) visited_.insert(list_offset);
            for (const std::uint32_t child : index.list_offsets) ORVANE_TRY(collect(child, depth + 1));
        }
        return {};
    }

    const hive::Hive& hive_;
    Sink sink_;
    std::unordered_set<std::uint32_t> visited_;
    std::uint64_t entries_ = 0;
    const std::uint64_t entry_limit_;
    bool exhausted_ = false;             // the entry limit was met; nothing more is read
    error::ProblemLog* const problems_;  // null when strict
};

}  // namespace

RegistryError subkey_entries_exceed_hive(std::uint32_t list_offset) {
    return error::invalid_format("Subkey lists hold more entries than the hive has room for at offset " +
                                 error::hex(list_offset));
}

Result<void> collect_subkey_entries(const key::RegistryKey& key, std::uint32_t list_offset,
                                    std::vector<SubkeyEntry>& entries) {
    Collection collection(key.hive(), base::Overloaded{
                                          [&](const subkey_list::IndexLeaf& leaf) {
                                              for (const std::uint32_t offset : leaf.key_offsets) {
                                                  entries.push_back({offset, 0, SubkeyEntry::Check::None});
                                              }
                                          },
                                          [&](const subkey_list::HashLeaf& leaf, bool name_hints) {
                                              const auto check = name_hints ? SubkeyEntry::Check::Hint
                                                                            : SubkeyEntry::Check::Hash;
                                              for (const auto& [offset, word] : leaf.entries) {
                                                  entries.push_back({offset, word, check});
                                              }
                                          },
                                      });
    return collection.collect(list_offset, 1);
}

}  // namespace orvane::subkey_list

namespace orvane::key {

Result<void> RegistryKey::collect_subkey_offsets(std::uint32_t list_offset, std::vector<std::uint32_t>& offsets) const {
    subkey_list::Collection collection(*hive_, base::Overloaded{
                                      [&](const subkey_list::IndexLeaf& leaf) {
                                          offsets.insert(offsets.end(), leaf.key_offsets.begin(),
                                                         leaf.key_offsets.end());
                                      },
                                      [&](const subkey_list::HashLeaf& leaf, bool) {
                                          for (const auto& entry : leaf.entries) offsets.push_back(entry.first);
                                      },
                                  });
    return collection.collect(list_offset, 1);
}

}  // namespace orvane::key
