#include "programmer.hpp"

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "console_text.hpp"
#include "file_input.hpp"
#include "image_verdict.hpp"
#include "menu.hpp"
#include "unit_commands.hpp"
#include "unit_protocol.hpp"

namespace flashprog {

namespace {

using dicttools::say;

/// One line when "dic.uns" does not fill the flash exactly (`read` is its
/// size, or one more than the flash when it is longer).
void say_size_if_not_flash_size(std::ostream& console, const std::filesystem::path& file, const std::string& name,
                                std::size_t read) {
    const std::string flash_size = std::to_string(kFlashSize);
    if (read < kFlashSize) {
        say(console, name + " has " + std::to_string(read) + " bytes, fewer than " + flash_size +
                         ": the rest is programmed and verified as zeros.\n");
    } else if (read > kFlashSize) {
        std::error_code unknown;
        const std::uintmax_t size = std::filesystem::file_size(file, unknown);
        say(console, name + " has " + (unknown ? "more than " + flash_size : std::to_string(size)) +
                         " bytes: the bytes after the first " + flash_size + " are ignored.\n");
    }
}

/// The bytes of `file` (named `name` in messages), up to one more than
/// the flash holds; none, said on `console`, when it cannot be read.
std::optional<std::vector<std::uint8_t>> read_image_file(std::ostream& console, const std::filesystem::path& file,
                                                         const std::string& name) {
    const dicttools::FileContents contents = dicttools::read_regular_file(file, kFlashSize + 1);
    switch (contents.status) {
        case dicttools::FileContents::Status::ok:
            break;
        case dicttools::FileContents::Status::cannot_open:
            say(console, "Could not open file " + name + " - exiting program.\n");
            return std::nullopt;
        case dicttools::FileContents::Status::cannot_read:
            say(console, "Could not read file " + name + " (" + contents.reason + ") - exiting program.\n");
            return std::nullopt;
    }
    return std::vector<std::uint8_t>(contents.bytes.begin(), contents.bytes.end());
}

/// The image as `bytes` of `file` hold it: a shorter file leaves the rest
/// zero, bytes beyond the flash size are ignored, and a line says which.
std::vector<std::uint8_t> flash_image(std::ostream& console, const std::vector<std::uint8_t>& bytes,
                                      const std::filesystem::path& file, const std::string& name) {
    say_size_if_not_flash_size(console, file, name, bytes.size());
    std::vector<std::uint8_t> image(kFlashSize, 0);
    std::copy_n(bytes.begin(), std::min(bytes.size(), kFlashSize), image.begin());
    return image;
}

/// The image named on the command line, checked as `check` says, its
/// messages on `errors`; none when it cannot be read or is refused.
std::optional<std::vector<std::uint8_t>> command_line_image(std::ostream& errors, const std::filesystem::path& file,
                                                            ImageCheck check) {
    const std::string name = dicttools::printable_name(file);
    const std::optional<std::vector<std::uint8_t>> bytes = read_image_file(errors, file, name);
    if (!bytes) {
        return std::nullopt;
    }
    if (check == ImageCheck::judged) {
        const ImageVerdict verdict = judge_image(*bytes, name);
        for (const std::string& line : verdict.lines) {
            say(errors, line);
        }
        if (verdict.refused()) {
            return std::nullopt;
        }
    }
    return flash_image(errors, *bytes, file, name);
}

CommandOutcome carry_out(std::uint8_t key, Link& link, Consoles consoles, const std::vector<std::uint8_t>& image,
                         const std::filesystem::path& saved_file, const std::string& saved_name, const Clock& clock) {
    switch (key) {
        case '1':
            return erase_flash(link, consoles.out);
        case '2':
            return download_image(link, consoles.out, consoles.errors, image, clock);
        case '3':
            return verify_flash(link, consoles.out, consoles.errors, image, clock);
        case '4':
            return save_flash(link, consoles.out, consoles.errors, saved_file, clock, reserve_in_file, saved_name);
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
        case CommandOutcome::out_of_step:
            return ExitStatus::out_of_step;
        case CommandOutcome::interrupted:
            return ExitStatus::interrupted;
    }
    return ExitStatus::done;
}

/// How open_and_carry_out() went.
struct Carried {
    ExitStatus status = ExitStatus::done;
    bool sent = true;             // false: the command never reached the unit,
    std::string_view not_sent{};  // for this reason
};

/// Opens and drains the chosen port and carries out the command of `key`,
/// Save into `saved_file`, called `saved_name` in messages. What it prints
/// on `consoles.out` ends with `dialogue_end`: none in the menu's dialogue,
/// a line end on the command line.
Carried open_and_carry_out(std::uint8_t key, int port_index, Consoles consoles, const LinkOpener& open_link,
                           const std::vector<std::uint8_t>& image, const std::filesystem::path& saved_file,
                           const std::string& saved_name, const Platform& platform, std::string_view dialogue_end) {
    std::unique_ptr<Link> link;
    try {
        link = open_link(port_index);
    } catch (const LinkError& error) {
        say(consoles.out, "Error Opening Comm Port" + std::string(dialogue_end));
        // Without a line end after the dialogue's text, the reason starts a line of its own on a terminal.
        consoles.errors << (dialogue_end.empty() ? "\n" : "") << "flashprog: " << error.what() << '\n';
        if (platform.other_devices) {
            consoles.errors << platform.other_devices(port_index);
        }
        consoles.errors << std::flush;
        return {ExitStatus::cannot_start, false, "the port could not be opened"};
    }
    const Drained drained = drain(*link, platform.clock);
    if (drained.interrupted) {
        say(consoles.out, "\nInterrupted before the command was sent: the flash is unchanged.\n");
        say(consoles.out, "Power down the unit." + std::string(dialogue_end));
        return {ExitStatus::interrupted, false, "interrupted"};
    }
    say(consoles.out, "\n");
    if (drained.endless) {
        say(consoles.errors, "flashprog: the line keeps sending: bytes still came after " +
                                 std::to_string(kDrainLimit.count() / 1000) + " s of draining (" +
                                 std::to_string(drained.bytes) +
                                 " in all), so nothing was sent to the unit; is it connected and powered up?\n");
        say(consoles.out, "Power down the unit." + std::string(dialogue_end));
        return {ExitStatus::out_of_step, false, "the line keeps sending"};
    }

    std::optional<RoundTripMeter> meter;
    if (is_transfer(key)) {
        meter.emplace(*link, platform.clock, consoles.errors, [&platform, port_index] {
            return platform.latency_advice ? platform.latency_advice(port_index) : std::string();
        });
    }
    const CommandOutcome outcome =
        carry_out(key, meter ? *meter : *link, consoles, image, saved_file, saved_name, platform.clock);
    if (meter) {
        meter->report_total();
    }
    say(consoles.out, "Power down the unit." + std::string(dialogue_end));
    return {exit_status_for(outcome)};
}

/// The stages of program, in their order.
struct Stage {
    Command command;
    std::string_view name;  // in the closing line
    std::string_view verb;  // in the question before it
};

constexpr std::array<Stage, 3> kStages = {{
    {Command::erase, "Erase", "erase"},
    {Command::download, "Download", "download"},
    {Command::verify, "Verify", "verify"},
}};

/// Why program is refused without a console, and the commands to run
/// instead, as `platform` writes them (with the port, options and image).
std::string program_without_console(const Platform& platform) {
    std::string instead;
    for (const Stage& stage : kStages) {
        instead += stage.command == Command::erase ? "" : stage.command == Command::verify ? " and " : ", ";
        instead +=
            platform.command_line ? platform.command_line(stage.command) : "flashprog " + std::string(stage.verb);
    }
    return "flashprog: program asks on the console for the unit to be powered down and up between its stages, and "
           "there is none: run " +
           instead + " instead, powering the unit down and up after each\n";
}

/// How a stage failed, in the closing line.
std::string_view failure_text(ExitStatus status) {
    switch (status) {
        case ExitStatus::cannot_start:
            return "the port could not be opened";
        case ExitStatus::no_response:
            return "no response from the unit";
        case ExitStatus::verify_mismatch:
            return "mismatch";
        case ExitStatus::out_of_step:
            return "out of step";
        case ExitStatus::interrupted:
            return "interrupted";
        default:
            return "failed";
    }
}

/// Asks the user to power the unit up again before `next`, once the keys
/// typed ahead are gone; whether Enter was pressed. Ctrl+C is offered where
/// it ends the run (not where SIGINT was ignored at start).
bool power_cycled(KeySource& keys, const Stage& next, const dicttools::StopRequest& stop) {
    keys.discard_typed_ahead();  // an Enter pressed during the stage before is no answer
    return keys.wait_for_enter("Power the unit up again, then press Enter to " + std::string(next.verb) +
                               (stop.stops_on(SIGINT) ? " (Ctrl+C ends the run here): " : ": "));
}

}  // namespace

ExitStatus run_programmer(Consoles consoles, KeySource& keys, const LinkOpener& open_link,
                          const std::filesystem::path& folder, const dicttools::StopRequest& stop,
                          const Platform& platform) {
    const std::optional<std::vector<std::uint8_t>> bytes = read_image_file(consoles.out, folder / "dic.uns", "dic.uns");
    if (stop.requested()) {
        return ExitStatus::interrupted;  // whatever the load made of it
    }
    if (!bytes) {
        return ExitStatus::cannot_start;
    }
    if (judge_image(*bytes, "dic.uns").kind == ImageVerdict::Kind::prom) {
        say(consoles.errors, prom_image_warning("dic.uns"));  // the menu loads it all the same
    }
    const std::vector<std::uint8_t> image = flash_image(consoles.out, *bytes, folder / "dic.uns", "dic.uns");

    const MenuChoice choice = run_menu(keys, consoles.out);
    if (stop.requested()) {
        return ExitStatus::interrupted;  // the console has its settings back; no port was opened
    }
    if (!choice.command_key) {
        return ExitStatus::done;
    }
    if (choice.no_console) {
        say(consoles.errors,
            "flashprog: no key could be read (there is no console), so no command is sent to the "
            "unit; in a script, name it: flashprog erase|download|verify|save|program\n");
    }

    const ExitStatus status = open_and_carry_out(*choice.command_key, choice.port_index, consoles, open_link, image,
                                                 folder / "dic.sav", "dic.sav", platform, "")
                                  .status;
    keys.discard_typed_ahead();  // keys pressed while it ran, so that they do not reach the shell
    return status;
}

ExitStatus run_command(Consoles consoles, Command command, const std::filesystem::path& file, int port_index,
                       const LinkOpener& open_link, const dicttools::StopRequest& stop, const Platform& platform,
                       ImageCheck check) {
    std::vector<std::uint8_t> image;
    if (command == Command::download || command == Command::verify) {
        std::optional<std::vector<std::uint8_t>> checked = command_line_image(consoles.errors, file, check);
        if (!checked) {
            return ExitStatus::cannot_start;
        }
        image = std::move(*checked);
    }
    if (stop.requested()) {
        return ExitStatus::interrupted;  // no port was opened
    }
    return open_and_carry_out(static_cast<std::uint8_t>(command), port_index, consoles, open_link, image, file,
                              dicttools::printable_name(file), platform, "\n")
        .status;
}

ExitStatus run_program(Consoles consoles, KeySource& keys, const std::filesystem::path& file, int port_index,
                       const LinkOpener& open_link, const dicttools::StopRequest& stop, const Platform& platform,
                       ImageCheck check) {
    if (!keys.console_present()) {
        say(consoles.errors, program_without_console(platform));
        return ExitStatus::wrong_arguments;
    }
    const std::optional<std::vector<std::uint8_t>> image = command_line_image(consoles.errors, file, check);
    if (!image) {
        return ExitStatus::cannot_start;
    }
    if (stop.requested()) {
        return ExitStatus::interrupted;  // no port was opened
    }
    ExitStatus status = ExitStatus::done;
    std::string summary = "program:";
    for (const Stage& stage : kStages) {
        summary += stage.command == Command::erase ? " " : ", ";
        if (status != ExitStatus::done) {
            summary += std::string(stage.name) + " not run";
            continue;
        }
        if (stage.command != Command::erase && !power_cycled(keys, stage, stop)) {
            status = stop.requested() ? ExitStatus::interrupted : ExitStatus::cannot_start;
            summary += std::string(stage.name) + " not run (" +
                       (stop.requested() ? "interrupted at the question" : "no answer could be read") + ")";
            continue;
        }
        const Carried carried = open_and_carry_out(static_cast<std::uint8_t>(stage.command), port_index, consoles,
                                                   open_link, *image, {}, {}, platform, "\n");
        status = carried.status;
        summary += std::string(stage.name) + (status == ExitStatus::done ? " done"
                                              : carried.sent ? " failed (" + std::string(failure_text(status)) + ")"
                                                             : " not sent (" + std::string(carried.not_sent) + ")");
    }
    keys.discard_typed_ahead();  // keys pressed during the last stage, so that they do not reach the shell
    say(consoles.out, summary + "\n");
    return status;
}

}  // namespace flashprog
