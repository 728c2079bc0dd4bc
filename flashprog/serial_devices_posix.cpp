// macOS and other POSIX systems: the call-out devices /dev/cu.*, which
// open without waiting for a carrier.
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "serial_devices.hpp"

namespace flashprog {

PortNaming platform_port_naming() { return PortNaming::posix; }

std::vector<SerialDevice> list_serial_devices() {
    std::vector<SerialDevice> devices;
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/dev", error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->path().filename().string().starts_with("cu.")) {
            devices.push_back({entry->path().string(), ""});
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const SerialDevice& a, const SerialDevice& b) { return a.name < b.name; });
    return devices;
}

}  // namespace flashprog
