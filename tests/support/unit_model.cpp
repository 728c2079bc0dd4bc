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

UnitModel::Answer UnitModel::answer(std::uint8_t received) {
    using std::chrono::milliseconds;
    switch (mode_) {
        case Mode::download:
            flash_[address_++] = received;
            if (address_ == flash_.size()) {
                mode_ = Mode::commands;
            }
            return {kAcknowledge, milliseconds{0}};
        case Mode::read_back:
            if (received == flashprog::kNextAddress && address_ + 1 < flash_.size()) {
                const std::uint8_t byte = flash_[++address_];
                if (address_ + 1 == flash_.size()) {
                    mode_ = Mode::commands;
                }
                return {byte, milliseconds{0}};
            }
            mode_ = Mode::commands;
            return answer(received);
        case Mode::commands:
            break;
    }
    switch (received) {
        case flashprog::kEraseCommand:
            std::fill(flash_.begin(), flash_.end(), 0xFF);
            return {received, erase_time};
        case flashprog::kDownloadCommand:
            mode_ = Mode::download;
            address_ = 0;
            return {kAcknowledge, milliseconds{0}};
        case flashprog::kReadBackCommand:
            mode_ = Mode::read_back;
            address_ = 0;
            return {flash_[0], milliseconds{0}};
        default:
            return {kUnknownCommand, milliseconds{0}};
    }
}

}  // namespace testing_support
