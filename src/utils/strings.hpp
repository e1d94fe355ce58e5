#pragma once
// The string readers. Each returns a new, owned UTF-8 string.

#include <cstdint>
#include <span>
#include <string>

#include "error/problem_log.hpp"
#include "error/registry_error.hpp"
#include "utils/byte_view.hpp"

namespace orvane::utils {

// A fixed 64-byte UTF-16LE field (the base block's file name): the units up
// to the first U+0000, or all 32 when there is none. An unpaired surrogate
// becomes U+FFFD, so every field yields a string.
std::string read_fixed_utf16(std::span<const std::uint8_t, 64> bytes);

// A name stored one byte per character: each byte is the character with that
// code point (ISO-8859-1), which is how Windows writes every name whose
// characters all lie below U+0100. Trailing NULs removed; never fails.
std::string read_ascii_string(Bytes bytes);

// Strict UTF-16 (LE unless a byte-order mark says otherwise; EF BB BF switches
// to strict UTF-8); trailing NULs removed. Any malformed input, or an odd byte
// count, fails with InvalidUtf16(offset); `offset` is used for nothing else.
[[nodiscard]] Result<std::string> read_utf16_string(Bytes bytes, std::uint32_t offset);
// The same decoding into `text` (whose buffer is reused): false where the
// above fails, and `text` then holds nothing of use.
[[nodiscard]] bool read_utf16_string_into(Bytes bytes, std::string& text);

// The same strict reading, failing with InvalidUtf16 at the byte offset of
// the first bad unit (a trailing odd byte: its own offset) instead of a
// caller's offset.
[[nodiscard]] Result<std::string> read_utf16_string_at_fault(Bytes bytes);

// A REG_SZ string as Windows reads it: the whole data when it decodes;
// otherwise the text before its first U+0000 at an even offset, when that
// prefix decodes, with the bytes after that U+0000 as `trailing` (stale bytes
// Windows ignores). Fails as read_utf16_string_at_fault when neither decodes.
struct WindowsString {
    std::string text;
    Bytes trailing;  // a view into the bytes read
};
[[nodiscard]] Result<WindowsString> read_windows_string(Bytes bytes);

// The same reading, for a tolerant hive: each malformed unit or sequence (and
// a trailing odd byte) becomes U+FFFD instead of failing. `clean` tells
// whether anything was replaced.
struct LossyText {
    std::string text;
    bool clean = true;
};
LossyText read_utf16_string_lossy(Bytes bytes);

// A UTF-16 key or value name of the record at `offset`: strict without a
// problem log; with one, lossy, noting a name that needed replacements.
[[nodiscard]] Result<std::string> read_utf16_name(Bytes bytes, std::uint32_t offset, error::ProblemLog* problems);

}  // namespace orvane::utils
