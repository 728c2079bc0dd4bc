// Memory set up ahead of use.
#pragma once

#include <cstddef>

namespace dicttools {

/// Has the system back the `size` bytes from `start` with memory now, in one
/// call, as writing them would page by page; their contents stay as they
/// are. Only a hint for speed: where the system offers no such call, or
/// refuses it, nothing happens. (One implementation per platform file.)
void set_up_for_writing(void* start, std::size_t size);

}  // namespace dicttools
