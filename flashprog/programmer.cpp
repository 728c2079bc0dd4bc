#include "programmer.hpp"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "console_text.hpp"
#include "file_io.hpp"
#include "menu.hpp"
#include "unit_commands.hpp"
#include "unit_protocol.hpp"

namespace flashprog {

namespace {

using dicttools::say;

/// The image as "dic.uns" holds it: a shorter file leaves the rest zero,
/// bytes beyond the flash size are ignored. Empty when it cannot be loaded.
std::vector<std::uint8_t> load_image(std::ostream& console, const std::filesystem::path& file) {
    const dicttools::FileContents contents = dicttools::read_file(file, kFlashSize);
    switch (contents.status) {
        case dicttools::FileContents::Status::ok:
            break;
        case dicttools::FileContents::Status::cannot_open:
            say(console, "Could not open file dic.uns - exiting program.\n");
            return {};
        case dicttools::FileContents::Status::cannot_read:
            say(console, "Could not read file dic.uns (" + contents.reason + ") - exiting program.\n");
            return {};
    }
    std::vector<std::uint8_t> image(kFlashSize, 0);
    std::copy(contents.bytes.begin(), contents.bytes.end(), image.begin());
    return image;
}

CommandOutcome carry_out(std::uint8_t key, Link& link, std::ostream& console, const std::vector<std::uint8_t>& image,
                         const std::filesystem::path& folder) {
    switch (key) {
        case '1':
            return erase_flash(link, console);
        case '2':
            return download_image(link, console, image);
        case '3':
            return verify_flash(link, console, image);
        case '4':
            return save_flash(link, console, folder / "dic.sav");
        default:
            return CommandOutcome::done;  // not a command: nothing is sent
    }
}

/// The commands that are timed round trip by round trip.
bool is_transfer(std::uint8_t key) { return key == '2' || key == '3' || key == '4'; }

ExitStatus exit_status_for(CommandOutcome outcome) {
    switch (outcome) {
        case CommandOutcome::done:
            return ExitStatus::done;
        case CommandOutcome::no_response:
            return ExitStatus::no_response;
        case CommandOutcome::mismatch:
            return ExitStatus::verify_mismatch;
        case CommandOutcome::save_failed:
            return ExitStatus::save_failed;
    }
    return ExitStatus::done;
}

}  // namespace

ExitStatus run_programmer(Consoles consoles, KeySource& keys, const LinkOpener& open_link,
                          const std::filesystem::path& folder, const Platform& platform) {
    const std::vector<std::uint8_t> image = load_image(consoles.out, folder / "dic.uns");
    if (image.empty()) {
        return ExitStatus::cannot_start;
    }

    const MenuChoice choice = run_menu(keys, consoles.out);
    if (!choice.command_key) {
        return ExitStatus::done;
    }

    std::unique_ptr<Link> link;
    try {
        link = open_link(choice.port_index);
    } catch (const LinkError& error) {
        say(consoles.out, "Error Opening Comm Port");
        consoles.errors << "flashprog: " << error.what() << '\n';
        if (platform.other_devices) {
            consoles.errors << platform.other_devices(choice.port_index);
        }
        consoles.errors << std::flush;
        return ExitStatus::cannot_start;
    }
    drain(*link);
    say(consoles.out, "\n");

    std::optional<RoundTripMeter> meter;
    if (is_transfer(*choice.command_key)) {
        meter.emplace(*link, platform.clock, consoles.errors, [&platform, &choice] {
            return platform.latency_advice ? platform.latency_advice(choice.port_index) : std::string();
        });
    }
    const CommandOutcome outcome = carry_out(*choice.command_key, meter ? *meter : *link, consoles.out, image, folder);
    if (meter) {
        meter->report_total();
    }
    say(consoles.out, "Power down the unit.");
    return exit_status_for(outcome);
}

}  // namespace flashprog
