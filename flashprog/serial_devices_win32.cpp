// Windows: the COM ports the system knows now, from the registry's device
// map, with the driver's name for each (\Device\VCP0 for a USB adapter,
// \Device\Serial0 for an on-board port).
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "serial_devices.hpp"

namespace flashprog {

PortNaming platform_port_naming() { return PortNaming::windows; }

std::vector<SerialDevice> list_serial_devices() {
    std::vector<SerialDevice> devices;
    HKEY map = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) != ERROR_SUCCESS) {
        return devices;  // no serial port has ever been there
    }
    for (DWORD index = 0;; ++index) {
        char driver_name[256];
        DWORD driver_length = sizeof driver_name;
        BYTE port[64];
        DWORD port_length = sizeof port - 1;
        DWORD type = 0;
        const LONG result =
            ::RegEnumValueA(map, index, driver_name, &driver_length, nullptr, &type, port, &port_length);
        if (result == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (result != ERROR_SUCCESS || type != REG_SZ) {
            continue;
        }
        port[port_length] = 0;
        devices.push_back({reinterpret_cast<const char*>(port), std::string(driver_name, driver_length)});
    }
    ::RegCloseKey(map);
    std::sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {  // COM9 before COM10
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return devices;
}

}  // namespace flashprog
