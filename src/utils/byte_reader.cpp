#include "utils/byte_reader.hpp"

namespace orvane::utils {

Result<std::uint32_t> read_u32(Bytes bytes, std::size_t position) {
    if (!fits(bytes.size(), position, 4)) {
        const std::uint64_t got = position < bytes.size() ? bytes.size() - position : 0;
        return error::unexpected(RegistryError(
            error::TruncatedData{static_cast<std::uint32_t>(position), 4, got}));
    }
    return load_u32(bytes.data() + position);
}

}  // namespace orvane::utils
