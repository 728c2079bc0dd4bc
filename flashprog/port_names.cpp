#include "port_names.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>

#include "console_text.hpp"
#include "shell_words.hpp"

namespace flashprog {

namespace {

constexpr std::string_view kDevicePrefix = R"(\\.\)";

/// The highest COMn that Windows names.
constexpr int kLastComNumber = 256;

/// Devices listed by name before the rest is only counted.
constexpr std::size_t kListedDevices = 8;

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool is_bare_com_name(std::string_view name) {
    if (name.size() < 4) {
        return false;
    }
    const bool com = upper(name[0]) == 'C' && upper(name[1]) == 'O' && upper(name[2]) == 'M';
    return com && std::all_of(name.begin() + 3, name.end(),
                              [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

std::string port_variable(int port_index) { return "FLASHPROG_COM" + std::to_string(port_index + 1); }

std::string resolve_port_name(std::optional<std::string_view> configured, std::string_view build_default,
                              PortNaming naming) {
    const std::string_view name = configured && !configured->empty() ? *configured : build_default;
    if (naming == PortNaming::windows && is_bare_com_name(name)) {
        return std::string(kDevicePrefix) + "COM" + std::string(name.substr(3));
    }
    return std::string(name);
}

std::optional<int> menu_port_index(std::string_view name) {
    if (name.size() != 4 || !is_bare_com_name(name) || (name[3] != '1' && name[3] != '2')) {
        return std::nullopt;
    }
    return name[3] - '1';
}

std::optional<std::string> foreign_port_name(std::string_view name, PortNaming naming, bool exists) {
    if (naming != PortNaming::posix || exists || !is_bare_com_name(name) || name[3] == '0' || name.size() > 6) {
        return std::nullopt;
    }
    int number = 0;
    std::from_chars(name.data() + 3, name.data() + name.size(), number);  // all digits, at most three
    if (number < 3 || number > kLastComNumber) {
        return std::nullopt;
    }
    return std::string(name) + " is no port here: COM1 and COM2 are the two configured ports (" + port_variable(0) +
           " and " + port_variable(1) + " name their devices), and any other port is named by its device path";
}

std::string other_devices_advice(const std::vector<SerialDevice>& devices, int port_index, PortNaming naming,
                                 std::string_view command) {
    std::string advice;
    if (devices.empty()) {
        advice += "flashprog: no serial device was found on this machine\n";
    } else {
        advice += "flashprog: serial devices on this machine:\n";
        for (std::size_t i = 0; i < std::min(devices.size(), kListedDevices); ++i) {
            advice += "flashprog:   " + dicttools::printable_name(devices[i].name);
            advice += devices[i].detail.empty() ? "\n" : " (" + dicttools::printable_name(devices[i].detail) + ")\n";
        }
        if (devices.size() > kListedDevices) {
            advice += "flashprog:   and " + std::to_string(devices.size() - kListedDevices) + " more\n";
        }
    }
    const dicttools::Shell shell = naming == PortNaming::windows ? dicttools::Shell::windows : dicttools::Shell::posix;
    const std::string example = dicttools::shell_word(!devices.empty()                ? devices.front().name
                                                      : naming == PortNaming::windows ? "COM7"
                                                                                      : "/dev/ttyUSB0",
                                                      shell);
    if (!command.empty()) {
        advice += "flashprog: to use " + std::string(devices.empty() ? "another device" : "one") +
                  ", run flashprog -p " + example + " " + std::string(command) + "\n";
        return advice;
    }
    const std::string setting = port_variable(port_index) + "=" + example;
    advice += "flashprog: to use " + std::string(devices.empty() ? "another device" : "one") + " as COM" +
              std::to_string(port_index + 1) + ", run ";
    advice += naming == PortNaming::windows ? "set " + setting + " then flashprog\n" : setting + " flashprog\n";
    return advice;
}

}  // namespace flashprog
