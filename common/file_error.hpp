// The one error the file modules throw.
#pragma once

#include <stdexcept>

namespace dicttools {

/// A file could not be read or written; what() names the file and gives
/// the system's reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace dicttools
