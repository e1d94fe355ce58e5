#pragma once
// The one error type of the core: a tagged union with one struct per kind of
// failure, each carrying the numbers its message shows. Errors are plain values:
// they own copies of any bytes or text and refer to no hive data.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "error/expected.hpp"

namespace orvane::error {

// An operating-system error (errno != 0) or a fixed text for an I/O failure
// that has no error number.
struct Io {
    int os_error = 0;
    std::string text;
};
struct InvalidSignature {
    std::string expected;  // raw bytes
    std::string found;     // raw bytes
};
struct InvalidFormat {
    std::string message;
};
struct InvalidOffset {
    std::uint32_t offset = 0;
    std::uint64_t hive_size = 0;
};
struct InvalidCellSize {
    std::int32_t size = 0;
    std::uint32_t offset = 0;
};
struct NotFound {
    std::string what;
};
struct InvalidUtf16 {
    std::uint32_t offset = 0;
};
struct HiveTooSmall {
    std::uint64_t size = 0;
    std::uint64_t minimum = 0;
};
struct ChecksumMismatch {
    std::uint32_t expected = 0;
    std::uint32_t calculated = 0;
};
struct UnsupportedVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};
struct TruncatedData {
    std::uint32_t offset = 0;
    std::uint64_t expected = 0;
    std::uint64_t got = 0;
};
struct InvalidSubkeyListType {
    std::array<std::uint8_t, 2> signature{};
};

class RegistryError {
public:
    using Variant = std::variant<Io, InvalidSignature, InvalidFormat, InvalidOffset, InvalidCellSize,
                                 NotFound, InvalidUtf16, HiveTooSmall, ChecksumMismatch,
                                 UnsupportedVersion, TruncatedData, InvalidSubkeyListType>;

    template <class V, std::enable_if_t<std::is_constructible_v<Variant, V&&>, int> = 0>
    RegistryError(V&& kind) : kind_(std::forward<V>(kind)) {}

    const Variant& kind() const noexcept { return kind_; }
    template <class V>
    bool is() const noexcept { return std::holds_alternative<V>(kind_); }
    template <class V>
    const V* get_if() const noexcept { return std::get_if<V>(&kind_); }

    // The one text of this error, as users see it.
    std::string message() const;

private:
    Variant kind_;
};

// Builders for the common cases, so raising sites stay one line.
RegistryError io_error_from_errno(int os_error);
RegistryError io_error_text(std::string text);
RegistryError invalid_format(std::string message);
RegistryError invalid_signature(std::string_view expected, std::string_view found);
// InvalidFormat "Expected 'nk' signature at offset 0x..": a record of the wrong
// kind where `signature` was due.
RegistryError record_signature_expected(std::string_view signature, std::uint32_t offset);

// `error` as the failure of any Result: `return error::fail(TruncatedData{...});`.
inline Unexpected<RegistryError> fail(RegistryError error) noexcept {
    return Unexpected<RegistryError>(std::move(error));
}

// "0x" followed by lowercase hexadecimal digits, no leading zeros.
std::string hex(std::uint64_t value);

}  // namespace orvane::error

namespace orvane {
using error::RegistryError;
template <class T>
using Result = error::Expected<T, RegistryError>;
}  // namespace orvane
