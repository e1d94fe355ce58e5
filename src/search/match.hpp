#pragma once
// One place where a search pattern was found: which key and value, in which
// part of them, where, and the text around it.

#include <cstdint>
#include <optional>
#include <string>

namespace orvane::search {

enum class Place : std::uint8_t { KeyName, ValueName, Data };

// How the matched bytes read: a name (decoded text, offsets in characters),
// or data read as UTF-16LE or as Latin-1 (offsets in bytes).
enum class Encoding : std::uint8_t { Name, Utf16Le, Latin1 };

struct Match {
    Place place = Place::KeyName;
    Encoding encoding = Encoding::Name;
    bool deleted = false;  // found among the deleted records
    // The key's path below the root ("" for the root); for a deleted key the
    // partial path its parents give; nullopt for a deleted value no deleted
    // key lists.
    std::optional<std::string> path;
    std::string value_name;        // empty for a key name match
    std::uint32_t key_offset = 0;  // 0 when path is nullopt
    std::uint32_t value_offset = 0;  // the value record's cell; 0 for a key name match
    // Data: the byte offset of the match in the value's data; a name: the
    // index of its first character.
    std::uint64_t offset = 0;
    std::string before;  // a few characters of context, UTF-8
    std::string text;    // the matched text, UTF-8
    std::string after;
};

// How many characters of context a match carries on each side.
inline constexpr std::size_t context_characters = 24;

}  // namespace orvane::search
