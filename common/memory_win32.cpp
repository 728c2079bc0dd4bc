// Windows: memory is backed when first written; there is no call that sets
// up private memory ahead.
#include "memory.hpp"

namespace dicttools {

void set_up_for_writing(void* /*start*/, std::size_t /*size*/) {}

}  // namespace dicttools
