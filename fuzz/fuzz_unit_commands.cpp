// Fuzz target: a whole programmer run against a unit that answers with
// arbitrary bytes or falls silent at arbitrary points.
//
// Input: byte 0 is the key pressed; after it, each read of the line takes
// one control byte: below 0x80 the unit answers with the byte that follows,
// from 0x80 on it stays silent. When the input runs out the unit is silent.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>

#include "programmer.hpp"
#include "support/link_to.hpp"
#include "unit_protocol.hpp"

namespace {

using namespace flashprog;

void expect(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "broken invariant: %s\n", what);
        std::abort();
    }
}

class OneKey final : public KeySource {
public:
    explicit OneKey(std::uint8_t key) : key_(key) {}
    void enter_single_key_mode() override {}
    void leave_single_key_mode() override {}
    bool no_console() const override { return false; }
    std::uint8_t read_key() override { return std::exchange(key_, kEndOfInput); }
    void discard_typed_ahead() override {}
    bool console_present() override { return true; }
    bool wait_for_enter(std::string_view /*question*/) override { return false; }

private:
    std::uint8_t key_;
};

/// The unit as the input describes it; watches that the host never has
/// more than one byte outstanding once the line has been drained.
class ScriptedUnit final : public Link {
public:
    ScriptedUnit(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    void send(std::uint8_t /*byte*/) override {
        expect(!drained_ || !outstanding_, "one byte outstanding at most");
        outstanding_ = true;
    }

    int read(std::chrono::milliseconds timeout) override {
        expect(timeout == kReplyTimeout || timeout == kEraseTimeout, "a wait of the protocol");
        outstanding_ = false;
        if (next_ + 1 < size_ && data_[next_] < 0x80) {
            const std::uint8_t answer = data_[next_ + 1];
            next_ += 2;
            return answer;
        }
        next_ += 1;
        if (drained_) {
            missed_ = true;
        }
        drained_ = true;  // the drain ends at its first silence
        return kNoResponse;
    }

    bool missed_an_answer() const { return missed_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t next_ = 0;
    bool outstanding_ = false;
    bool drained_ = false;
    bool missed_ = false;
};

std::string g_folder;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    char folder[] = "/tmp/fuzz-unit-commands-XXXXXX";
    expect(::mkdtemp(folder) != nullptr, "a scratch folder");
    g_folder = folder;
    std::string image(kFlashSize, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) {
        image[i] = static_cast<char>(i % 251);
    }
    std::ofstream(g_folder + "/dic.uns", std::ios::binary) << image;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    OneKey keys(data[0]);
    ScriptedUnit unit(data + 1, size - 1);
    bool opened = false;
    const LinkOpener opener = [&](int) {
        opened = true;
        return std::make_unique<testing_support::LinkTo>(unit);
    };
    std::ostringstream out;
    std::ostringstream errors;
    const dicttools::ManualStop never;
    const ExitStatus status = run_programmer({out, errors}, keys, opener, g_folder, never);
    const std::string text = out.str();
    if (data[0] == '7') {
        expect(status == ExitStatus::done && text.ends_with("Program closing..\n"), "the exit key ends the menu");
        return 0;
    }
    expect(opened, "a command key opens the port");
    expect(text.ends_with("Power down the unit."), "every command ends asking to power down");
    expect(!unit.missed_an_answer() || status != ExitStatus::done, "a missing reply is a failure");
    return 0;
}
