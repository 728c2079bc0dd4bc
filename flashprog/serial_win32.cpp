// Windows serial port: a DCB for the line, COMMTIMEOUTS for the timed read.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>

#include "console_text.hpp"
#include "serial_port.hpp"

namespace flashprog {

namespace {

std::string system_message(DWORD error) {
    char* text = nullptr;
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 ? std::string(text, length) : "error " + std::to_string(error);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

[[noreturn]] void fail(const std::string& device, const std::string& reason) {
    throw LinkError("cannot open " + dicttools::printable_name(device) + ": " + reason);
}

[[noreturn]] void fail_with_last_error(const std::string& device) {
    const DWORD error = ::GetLastError();
    // Windows opens a port for one program only: a refusal means it is taken.
    fail(device, error == ERROR_ACCESS_DENIED ? "the port is in use by another program" : system_message(error));
}

/// 38400 baud, 8 data bits, no parity, 1 stop bit, binary, no flow control
/// of any kind (the image holds XON and XOFF too) and no abort on errors.
DCB line_settings(const DCB& original) {
    DCB line = original;
    line.BaudRate = CBR_38400;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE;
    line.fDsrSensitivity = FALSE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fAbortOnError = FALSE;
    return line;
}

bool has_line_settings(const DCB& line) {
    return line.BaudRate == CBR_38400 && line.ByteSize == 8 && line.Parity == NOPARITY && line.StopBits == ONESTOPBIT &&
           !line.fOutxCtsFlow && !line.fOutxDsrFlow && !line.fOutX && !line.fInX;
}

class Win32SerialLink final : public Link {
public:
    Win32SerialLink(std::string device, const dicttools::StopRequest& stop) : device_(std::move(device)), stop_(stop) {}
    Win32SerialLink(const Win32SerialLink&) = delete;
    Win32SerialLink& operator=(const Win32SerialLink&) = delete;

    ~Win32SerialLink() override {
        if (port_ == INVALID_HANDLE_VALUE) {
            return;
        }
        if (settings_saved_) {
            ::SetCommState(port_, &original_line_);
            ::SetCommTimeouts(port_, &original_timeouts_);
        }
        ::CloseHandle(port_);
    }

    void open() {
        port_ = ::CreateFileA(device_.c_str(), GENERIC_READ | GENERIC_WRITE, 0 /* exclusive */, nullptr, OPEN_EXISTING,
                              0, nullptr);
        if (port_ == INVALID_HANDLE_VALUE) {
            fail_with_last_error(device_);
        }
        original_line_.DCBlength = sizeof original_line_;
        if (!::GetCommState(port_, &original_line_) || !::GetCommTimeouts(port_, &original_timeouts_)) {
            fail_with_last_error(device_);  // not a serial port
        }
        settings_saved_ = true;
        DCB line = line_settings(original_line_);
        DCB actual{};
        actual.DCBlength = sizeof actual;
        if (!::SetCommState(port_, &line) || !::GetCommState(port_, &actual)) {
            fail_with_last_error(device_);
        }
        if (!has_line_settings(actual)) {
            fail(device_, "the port does not take 38400 baud, 8 data bits, no parity, 1 stop bit");
        }
    }

    void send(std::uint8_t byte) override {
        if (failed_ || stop_.requested()) {
            return;
        }
        DWORD written = 0;
        if (!::WriteFile(port_, &byte, 1, &written, nullptr) || written != 1) {
            failed_ = true;
            return;
        }
        awaiting_answer_ = true;
    }

    /// Waits in ReadFile calls of at most kStopCheckInterval, looking at
    /// the stop request before each (the console's control handler records
    /// it on a thread of its own). After a stop, the answer to the byte sent
    /// last gets one slice more.
    int read(std::chrono::milliseconds timeout) override {
        using std::chrono::milliseconds;
        using std::chrono::steady_clock;
        steady_clock::time_point deadline = steady_clock::now() + timeout;
        const bool awaited = std::exchange(awaiting_answer_, false);
        bool stopping = false;  // waiting out the answer to the byte sent last
        for (;;) {
            if (failed_) {
                return kNoResponse;
            }
            if (stop_.requested() && !stopping) {
                if (!awaited) {
                    return kInterrupted;
                }
                stopping = true;
                deadline = (std::min)(deadline, steady_clock::now() + dicttools::kStopCheckInterval);
            }
            const milliseconds left = std::chrono::ceil<milliseconds>(deadline - steady_clock::now());
            unsigned char byte = 0;
            DWORD got = 0;
            if (!use_timeout(std::clamp(left, milliseconds{1}, dicttools::kStopCheckInterval)) ||
                !::ReadFile(port_, &byte, 1, &got, nullptr)) {
                failed_ = true;  // the device has gone, or the line failed
                return kNoResponse;
            }
            if (got == 1) {
                return byte;
            }
            if (left <= dicttools::kStopCheckInterval) {
                return stopping ? kInterrupted : kNoResponse;  // the wait ran out
            }
        }
    }

private:
    /// Makes one ReadFile return as soon as one byte is there, or after
    /// `timeout` (1 ms or more) with none.
    bool use_timeout(std::chrono::milliseconds timeout) {
        const auto wait = static_cast<DWORD>(timeout.count());
        if (wait == current_wait_) {
            return true;
        }
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = wait;
        if (!::SetCommTimeouts(port_, &timeouts)) {
            return false;
        }
        current_wait_ = wait;
        return true;
    }

    std::string device_;
    const dicttools::StopRequest& stop_;
    HANDLE port_ = INVALID_HANDLE_VALUE;
    DCB original_line_{};
    COMMTIMEOUTS original_timeouts_{};
    bool settings_saved_ = false;
    bool failed_ = false;
    bool awaiting_answer_ = false;  // a byte was sent and its answer not read yet
    DWORD current_wait_ = 0;
};

}  // namespace

std::unique_ptr<Link> open_serial_port(const std::string& device, const dicttools::StopRequest& stop) {
    auto link = std::make_unique<Win32SerialLink>(device, stop);
    link->open();  // a throw here destroys the link, which restores and closes the port
    return link;
}

}  // namespace flashprog
