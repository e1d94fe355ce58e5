#include "error/registry_error.hpp"

#include <cstring>
#include <span>

#include "base/unicode.hpp"
#include "base/overloaded.hpp"

namespace orvane::error {

namespace {

// The C library's text for an error number, whichever strerror_r it provides.
std::string describe_errno(int os_error) {
    char buffer[256] = {};
    auto pick = [&](auto result) -> std::string {
        if constexpr (std::is_same_v<decltype(result), char*>) {
            return result;  // GNU: may point at a static string
        } else {
            return result == 0 ? buffer : "Unknown error " + std::to_string(os_error);
        }
    };
    return pick(strerror_r(os_error, buffer, sizeof buffer));
}

// The bytes decoded as UTF-8 with replacement, in double quotes, escaped the
// way a debug rendering shows text: \\ \" \0 \t \n \r, and \u{h} for characters
// that are not printable or are grapheme extenders.
std::string quoted(std::string_view raw) {
    const std::string text =
        base::utf8_lossy(std::span(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()));
    std::string out = "\"";
    auto bytes = std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    while (!bytes.empty()) {
        const auto step = base::decode_utf8_step(bytes);
        const char32_t c = step.code_point;
        switch (c) {
            case U'\\': out += "\\\\"; break;
            case U'"': out += "\\\""; break;
            case U'\0': out += "\\0"; break;
            case U'\t': out += "\\t"; break;
            case U'\n': out += "\\n"; break;
            case U'\r': out += "\\r"; break;
            default:
                if (!base::is_printable(c) || base::is_grapheme_extend(c)) {
                    char esc[16];
                    std::snprintf(esc, sizeof esc, "\\u{%x}", static_cast<unsigned>(c));
                    out += esc;
                } else {
                    out.append(reinterpret_cast<const char*>(bytes.data()), step.length);
                }
        }
        bytes = bytes.subspan(step.length);
    }
    out += '"';
    return out;
}

}  // namespace

std::string hex(std::uint64_t value) {
    // By hand, not snprintf: a tolerant read of a damaged hive formats an
    // offset for every line it notes, and snprintf's parsing of the format
    // cost more than the rest of the line.
    constexpr char digits[] = "0123456789abcdef";
    char buffer[18];
    std::size_t at = sizeof buffer;
    do {
        buffer[--at] = digits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    buffer[--at] = 'x';
    buffer[--at] = '0';
    return std::string(buffer + at, sizeof buffer - at);
}

std::string RegistryError::message() const {
    using std::to_string;
    return std::visit(
        base::Overloaded{
            [](const Io& e) {
                if (e.os_error == 0) return e.text;
                return describe_errno(e.os_error) + " (os error " + to_string(e.os_error) + ")";
            },
            [](const InvalidSignature& e) {
                return "Invalid signature: expected " + quoted(e.expected) + ", found " + quoted(e.found);
            },
            [](const InvalidFormat& e) { return "Invalid format: " + e.message; },
            [](const InvalidOffset& e) {
                return "Invalid offset " + hex(e.offset) + " (hive size: " + hex(e.hive_size) + ")";
            },
            [](const InvalidCellSize& e) {
                return "Invalid cell size " + to_string(e.size) + " at offset " + hex(e.offset);
            },
            [](const NotFound& e) { return "Not found: " + e.what; },
            [](const InvalidUtf16& e) { return "Invalid UTF-16 string at offset " + hex(e.offset); },
            [](const HiveTooSmall& e) {
                return "Hive too small: " + to_string(e.size) + " bytes (minimum: " + to_string(e.minimum) +
                       " bytes)";
            },
            [](const ChecksumMismatch& e) {
                return "Checksum mismatch: expected " + hex(e.expected) + ", calculated " + hex(e.calculated);
            },
            [](const UnsupportedVersion& e) {
                return "Unsupported hive version: " + to_string(e.major) + "." + to_string(e.minor);
            },
            [](const TruncatedData& e) {
                return "Truncated data at offset " + hex(e.offset) + ": expected " + to_string(e.expected) +
                       " bytes, got " + to_string(e.got) + " bytes";
            },
            [](const InvalidSubkeyListType& e) {
                return "Invalid subkey list type: [" + to_string(e.signature[0]) + ", " +
                       to_string(e.signature[1]) + "]";
            },
        },
        kind_);
}

RegistryError io_error_from_errno(int os_error) { return RegistryError(Io{os_error, {}}); }

RegistryError io_error_text(std::string text) { return RegistryError(Io{0, std::move(text)}); }

RegistryError invalid_format(std::string message) { return RegistryError(InvalidFormat{std::move(message)}); }

RegistryError invalid_signature(std::string_view expected, std::string_view found) {
    return RegistryError(InvalidSignature{std::string(expected), std::string(found)});
}

RegistryError record_signature_expected(std::string_view signature, std::uint32_t offset) {
    return invalid_format("Expected '" + std::string(signature) + "' signature at offset " + hex(offset));
}

}  // namespace orvane::error
