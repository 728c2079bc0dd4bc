// Linux: the stable names of USB adapters under /dev/serial/by-id, the USB
// adapters and modems themselves, and the on-board ports that have a UART
// behind them (the kernel makes ttyS0 to ttyS31 whether or not they do).
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "serial_devices.hpp"

namespace flashprog {

namespace {

namespace fs = std::filesystem;

/// The entries of `folder` whose names start with `prefix`, shorter names
/// first, so that ttyUSB9 comes before ttyUSB10.
std::vector<fs::path> entries(const fs::path& folder, const std::string& prefix) {
    std::vector<std::string> found;
    std::error_code error;
    for (fs::directory_iterator entry(folder, error), end; !error && entry != end; entry.increment(error)) {
        if (entry->path().filename().string().starts_with(prefix)) {
            found.push_back(entry->path().string());
        }
    }
    std::sort(found.begin(), found.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    return {found.begin(), found.end()};
}

/// Whether an on-board port has a UART: its sysfs type is not 0 (unknown).
bool has_uart(const fs::path& device) {
    std::ifstream type("/sys/class/tty/" + device.filename().string() + "/type");
    int value = 0;
    return static_cast<bool>(type >> value) && value != 0;
}

}  // namespace

PortNaming platform_port_naming() { return PortNaming::posix; }

std::vector<SerialDevice> list_serial_devices() {
    std::vector<SerialDevice> devices;
    for (const fs::path& link : entries("/dev/serial/by-id", "")) {
        std::error_code error;
        const fs::path target = fs::canonical(link, error);
        devices.push_back({link.string(), error ? std::string() : target.string()});
    }
    for (const char* prefix : {"ttyUSB", "ttyACM"}) {
        for (const fs::path& device : entries("/dev", prefix)) {
            devices.push_back({device.string(), ""});
        }
    }
    for (const fs::path& device : entries("/dev", "ttyS")) {
        if (has_uart(device)) {
            devices.push_back({device.string(), ""});
        }
    }
    return devices;
}

}  // namespace flashprog
