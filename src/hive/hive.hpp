#pragma once
// A loaded hive: its image, its base block record and its key cache.
//
// Apart from the key cache, a Hive never changes after loading, so any number
// of threads may read it at once. It is always held through a shared_ptr: by
// the Python Hive object and by every RegistryKey object made from it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "error/failure.hpp"
#include "error/problem_log.hpp"
#include "error/registry_error.hpp"
#include "hive/base_block.hpp"
#include "hive/hbin.hpp"
#include "hive/hive_data.hpp"
#include "key/key_cache.hpp"

namespace orvane::key {
class RegistryKey;
}

namespace orvane::hive {

class Hive {
public:
    // Opens `path` read-only, refuses files under 4096 bytes, maps the whole
    // file (read-only, shared) and validates it with from_data(). The file is
    // closed before returning; the mapping lives as long as the Hive.
    [[nodiscard]] static Result<std::shared_ptr<const Hive>> open(const std::string& path);

    // Validates an image: size, "regf" signature, checksum, version (in that
    // order). Reads only its first 512 bytes; nothing else is checked, so
    // offsets and sizes stored in it are tested when they are used. The
    // checksum matches when it equals the XOR of the first 508 bytes, or the
    // form Windows stores (1 for 0, 0xFFFFFFFE for 0xFFFFFFFF).
    // `applied_logs` records the logs replayed into the image, if any.
    [[nodiscard]] static Result<std::shared_ptr<const Hive>> from_data(HiveData data,
                                                                       std::vector<std::string> applied_logs = {});

    // The tolerant way in, for damaged hives: only a file under 4096 bytes, a
    // signature other than "regf" or a major version other than 1 is refused.
    // A checksum mismatch, another minor version and a hive bins data size past
    // the end of the file are noted. The bins are walked once: a bin that is
    // missing or invalid is skipped up to the next sound bin header on a 4 KiB
    // boundary (noted), and no cell is read from the skipped range; with no
    // sound header after it, cells are read only up to it, as if the file
    // ended there. Reads then skip, note and go on where a strict hive fails
    // (see problems()).
    [[nodiscard]] static Result<std::shared_ptr<const Hive>> open_tolerant(const std::string& path);
    // `missing_bins_end` (a carved fragment's) says the bins before that
    // offset only stand in for bins that are missing: no cell is read from
    // them, as from a skipped range, so a reference into them reads nothing
    // rather than as many zero bytes as the fragment's offset claims.
    [[nodiscard]] static Result<std::shared_ptr<const Hive>> from_data_tolerant(HiveData data,
                                                                                std::uint64_t missing_bins_end = 0);

    Hive(const Hive&) = delete;
    Hive& operator=(const Hive&) = delete;

    utils::Bytes data() const noexcept { return data_.bytes(); }
    const BaseBlock& base_block() const noexcept { return base_block_; }

    // All hbin headers in file order, walking the whole image (not just the
    // recorded hive bins data size). The walk stops at the first header whose
    // signature is not "hbin", at a bin of size 0 (which would otherwise be
    // visited forever), and at a header past the recorded data size whose
    // offset field is wrong (slack left by Windows); inside the recorded data
    // such a header is an error. A tolerant hive never fails here: it lists
    // the sound bins, past the ranges its load skipped and noted.
    [[nodiscard]] Result<std::vector<HbinHeader>> hbins() const;

    // The payload of the cell at `offset` (relative to the hive bins data), a
    // view into the image whose errors name `offset`. Only the image length
    // bounds it (for a tolerant hive, the end of its readable bins and the
    // ranges it skipped): free and
    // allocated cells read alike, and bins and the recorded data size are not
    // consulted.
    [[nodiscard]] Result<utils::ByteView> get_cell(std::uint32_t offset) const;

    // The key node at `offset`, through the key cache.
    [[nodiscard]] Checked<key::RegistryKey> get_key(std::uint32_t offset) const;

    const key::KeyCache& key_cache() const noexcept { return key_cache_; }

    // The paths of the logs replayed into the image, in the order applied;
    // empty for a hive opened without logs or that no log changed.
    const std::vector<std::string>& applied_logs() const noexcept { return applied_logs_; }

    // Where a tolerant read notes what it skipped or repaired; null for a
    // hive opened strictly, whose reads fail instead.
    error::ProblemLog* problem_log() const noexcept { return problems_.get(); }
    // What has been noted so far (always empty for a strict hive).
    std::vector<std::string> problems() const;
    // A tolerant hive goes on without a subkey it cannot read: notes it and
    // returns true. False on a strict hive, or for a fault that is not a hive
    // error; the caller then fails with `failure`.
    bool skip_subkey(std::uint32_t offset, const error::Failure& failure) const;

private:
    enum class Reading { Strict, Tolerant };
    [[nodiscard]] static Result<std::shared_ptr<const Hive>> open_as(const std::string& path, Reading reading);

    Hive(HiveData data, BaseBlock base_block, std::vector<std::string> applied_logs, std::uint64_t readable_size,
         std::vector<SkippedRange> skipped, std::unique_ptr<error::ProblemLog> problems) noexcept
        : data_(std::move(data)),
          base_block_(std::move(base_block)),
          applied_logs_(std::move(applied_logs)),
          key_cache_(key::KeyCache::budget_for(data_.bytes().size())),
          readable_size_(readable_size),
          skipped_(std::move(skipped)),
          problems_(std::move(problems)) {}

    // Where the readable bytes end for a cell at `offset`: the start of the
    // next skipped range, 0 inside one, else readable_size_.
    std::uint64_t readable_end(std::uint32_t offset) const noexcept;

    HiveData data_;
    BaseBlock base_block_;
    std::vector<std::string> applied_logs_;
    mutable key::KeyCache key_cache_;
    // The image bytes cells may be read from: the whole image, or for a
    // tolerant hive everything before its first bad bin.
    std::uint64_t readable_size_;
    // Bins a tolerant load skipped (offsets in the hive bins data); empty for
    // a strict hive.
    std::vector<SkippedRange> skipped_;
    std::unique_ptr<error::ProblemLog> problems_;
};

}  // namespace orvane::hive
