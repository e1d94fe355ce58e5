#pragma once
// A small sound key tree for the walk and table tests, with a way to point a
// key's subkey list elsewhere.

#include <cstdint>
#include <vector>

#include "record_builders.hpp"

namespace orvane::testing {

// A root with keys A (whose subkeys are A1 and A2) and B, in "lh" lists.
struct SmallTree {
    ImageBuilder image;
    std::uint32_t root = 0, a = 0, a1 = 0, a2 = 0, b = 0;

    SmallTree() {
        a1 = add_key(image, "A1");
        a2 = add_key(image, "A2");
        a = add_key(image, "A", 2, image.add_cell(lh({a1, a2})));
        b = add_key(image, "B");
        root = add_key(image, "ROOT", 2, image.add_cell(lh({a, b})));
        image.root(root);
    }
    // Points the subkey list of the key at `key` to a new list naming `offsets`.
    void relist(std::uint32_t key, const std::vector<std::uint32_t>& offsets) {
        const std::uint32_t list = image.add_cell(li(offsets));
        put_u32(image.raw(), payload_position(key, 20), static_cast<std::uint32_t>(offsets.size()));
        put_u32(image.raw(), payload_position(key, 28), list);
    }
};

}  // namespace orvane::testing
