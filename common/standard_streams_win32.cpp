// Windows: nothing to do, files and ports get handles of their own and
// never take a standard stream's place.
#include "standard_streams.hpp"

namespace dicttools {

StandardStreams open_closed_standard_streams() { return {}; }

}  // namespace dicttools
