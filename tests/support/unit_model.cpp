#include "support/unit_model.hpp"

#include <algorithm>
#include <utility>

#include "unit_protocol.hpp"

namespace testing_support {

namespace {

constexpr std::uint8_t kAcknowledge = 0x06;
constexpr std::uint8_t kUnknownCommand = '?';

}  // namespace

UnitModel::UnitModel(std::vector<std::uint8_t> flash) : flash_(std::move(flash)) {
    flash_.resize(flashprog::kFlashSize, 0xFF);
}

UnitModel::UnitModel() : UnitModel(std::vector<std::uint8_t>(flashprog::kFlashSize, 0xFF)) {}

std::optional<UnitModel::Answer> UnitModel::answer(std::uint8_t received) {
    switch (mode_) {
        case Mode::download:
            flash_[address_++] = received;
            if (address_ == flash_.size()) {
                mode_ = Mode::spent;
            }
            return Answer{kAcknowledge, reply_delay};
        case Mode::read_back:
            if (received == flashprog::kNextAddress && address_ + 1 < flash_.size()) {
                const std::uint8_t byte = flash_[++address_];
                if (address_ + 1 == flash_.size()) {
                    mode_ = Mode::spent;
                }
                return Answer{byte, reply_delay};
            }
            mode_ = Mode::spent;
            if (!always_on) {
                return std::nullopt;
            }
            break;  // the byte begins the next command
        case Mode::spent:
            if (!always_on) {
                return std::nullopt;
            }
            break;
        case Mode::commands:
            break;
    }
    switch (received) {
        case flashprog::kEraseCommand:
            std::fill(flash_.begin(), flash_.end(), 0xFF);
            mode_ = Mode::spent;
            return Answer{received, erase_time};
        case flashprog::kDownloadCommand:
            mode_ = Mode::download;
            address_ = 0;
            return Answer{kAcknowledge, reply_delay};
        case flashprog::kReadBackCommand:
            mode_ = Mode::read_back;
            address_ = 0;
            return Answer{flash_[0], reply_delay};
        default:
            return Answer{kUnknownCommand, reply_delay};
    }
}

}  // namespace testing_support
