#include "carve/carved_item.hpp"

#include "carve/synthetic_hive.hpp"
#include "error/registry_error.hpp"
#include "hive/hive.hpp"
#include "hive/layout.hpp"

namespace orvane::carve {

utils::ImageBytes item_bytes(const CarvedItem& item) {
    utils::ImageBytes bytes;
    std::uint64_t total = 0;
    for (const Part& part : item.parts) total += part.length;
    bytes.reserve(total);
    const utils::ByteView source(item.source ? item.source->bytes() : utils::Bytes{});
    for (const Part& part : item.parts) {
        const utils::ByteView piece = source.rest(part.at).first(part.length);
        utils::append_image(bytes, piece.bytes());
    }
    return bytes;
}

Result<std::shared_ptr<const hive::Hive>> open_item(const CarvedItem& item) {
    utils::ImageBytes bytes = item_bytes(item);
    switch (item.kind) {
        case Kind::Hive: {
            if (bytes.size() < hive::layout::base_block_size) bytes.resize(hive::layout::base_block_size);
            ORVANE_ASSIGN_OR_RETURN(auto opened, hive::Hive::from_data_tolerant(hive::HiveData::from_bytes(std::move(bytes))));
            if (item.parts.size() > 1) {
                std::string line = "Reconstructed from parts at image offsets";
                for (const Part& part : item.parts) {
                    line += ' ';  // appended apart: GCC 12 warns falsely on " " + string at -O3
                    line += error::hex(part.image_offset);
                }
                opened->problem_log()->note(std::move(line));
            }
            return opened;
        }
        case Kind::Fragment: {
            ORVANE_ASSIGN_OR_RETURN(auto opened,
                                    hive::Hive::from_data_tolerant(hive::HiveData::from_bytes(fragment_image(
                                                                       utils::ByteView(bytes), item.hive_offset)),
                                                                   item.hive_offset));
            opened->problem_log()->note("Carved fragment: no base block; the bins before offset " +
                                        error::hex(item.hive_offset) + " are missing");
            return opened;
        }
        case Kind::Record: {
            ORVANE_ASSIGN_OR_RETURN(auto opened, hive::Hive::from_data_tolerant(
                                                     hive::HiveData::from_bytes(record_page_image(utils::ByteView(bytes)))));
            opened->problem_log()->note("Loose records carved at image offset " + error::hex(item.image_offset) +
                                        ", held as free space behind a made-up root key");
            return opened;
        }
    }
    return error::fail(error::invalid_format("Unknown kind of carved item"));
}

}  // namespace orvane::carve
