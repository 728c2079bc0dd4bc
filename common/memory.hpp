// Memory set up ahead of use.
#pragma once

#include <cstddef>
#include <vector>

namespace dicttools {

/// Has the system back the `size` bytes from `start` with memory now, in one
/// call, as writing them would page by page; their contents stay as they
/// are. Only a hint for speed: where the system offers no such call, or
/// refuses it, nothing happens. (One implementation per platform file.)
void set_up_for_writing(void* start, std::size_t size);

/// `count` value-initialised elements, their memory set up in one call
/// rather than page by page as they are written.
template <class T>
std::vector<T> set_up_vector(std::size_t count) {
    std::vector<T> items;
    items.reserve(count);
    set_up_for_writing(items.data(), count * sizeof(T));
    items.resize(count);
    return items;
}

}  // namespace dicttools
