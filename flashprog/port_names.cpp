#include "port_names.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "console_text.hpp"

namespace flashprog {

namespace {

constexpr std::string_view kDevicePrefix = R"(\\.\)";

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

std::string shell_word(std::string_view word, PortNaming naming) {
    std::string shown = dicttools::printable_name(std::filesystem::path(std::string(word)));
    // A backslash separates folders on Windows; elsewhere the shell takes it.
    const std::string_view plain_marks = naming == PortNaming::windows ? "_./:\\-+=,@" : "_./:-+=,@";
    const bool plain = !shown.empty() && std::all_of(shown.begin(), shown.end(), [plain_marks](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || plain_marks.find(c) != std::string_view::npos;
    });
    if (plain) {
        return shown;
    }
    if (naming == PortNaming::windows) {
        return '"' + shown + '"';  // a file name holds no double quote there
    }
    std::string quoted = "'";
    for (const char c : shown) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string other_devices_advice(const std::vector<SerialDevice>& devices, int port_index, PortNaming naming,
                                 std::string_view command) {
    std::string advice;
    if (devices.empty()) {
        advice += "flashprog: no serial device was found on this machine\n";
    } else {
        advice += "flashprog: serial devices on this machine:\n";
        for (std::size_t i = 0; i < std::min(devices.size(), kListedDevices); ++i) {
            advice += "flashprog:   " + devices[i].name;
            advice += devices[i].detail.empty() ? "\n" : " (" + devices[i].detail + ")\n";
        }
        if (devices.size() > kListedDevices) {
            advice += "flashprog:   and " + std::to_string(devices.size() - kListedDevices) + " more\n";
        }
    }
    const std::string example = !devices.empty()                ? devices.front().name
                                : naming == PortNaming::windows ? "COM7"
                                                                : "/dev/ttyUSB0";
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
