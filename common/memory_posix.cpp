// POSIX: memory set up ahead of use with madvise, where Linux offers it.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "memory.hpp"

namespace dicttools {

namespace {

#ifdef MADV_POPULATE_WRITE
constexpr int kPopulateForWriting = MADV_POPULATE_WRITE;  // Linux 5.14 and later
#else
constexpr int kPopulateForWriting = -1;  // none on this system
#endif

}  // namespace

void set_up_for_writing(void* start, std::size_t size) {
    if (kPopulateForWriting < 0 || size == 0) {
        return;
    }
    // madvise takes whole pages: from the start of the first one.
    const auto page_size = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
    const std::size_t into_page = reinterpret_cast<std::uintptr_t>(start) % page_size;
    ::madvise(static_cast<char*>(start) - into_page, size + into_page, kPopulateForWriting);  // a hint: errors ignored
}

}  // namespace dicttools
