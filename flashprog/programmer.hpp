// One whole run of the flash programmer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "interrupts.hpp"
#include "key_source.hpp"
#include "link.hpp"
#include "round_trip_meter.hpp"

namespace flashprog {

/// The programmer's exit statuses.
enum class ExitStatus : int {
    done = 0,              // a command done, the menu's exit, or a key with no command
    cannot_start = 1,      // "dic.uns" missing or unreadable, an image refused by its check, the port cannot be
                           // opened, or no answer could be read at program's question
    no_response = 2,       // the unit did not answer
    verify_mismatch = 3,   // the flash differs from the image
    save_failed = 4,       // "dic.sav" could not be written
    out_of_step = 5,       // the unit sent bytes it was not asked for: its answers were shifted, or the
                           // line kept sending before the command, which was then not sent
    wrong_arguments = 64,  // program without a console to ask on
    /// Stopped by a signal. Not an exit status itself: the program exits
    /// with dicttools::exit_status_for_signal() of the signal.
    interrupted = -1,
};

/// Opens the link on port index 0 (COM1) or 1 (COM2), or on the device the
/// command line named; throws LinkError.
using LinkOpener = std::function<std::unique_ptr<Link>(int port_index)>;

struct Consoles {
    std::ostream& out;     // the dialogue
    std::ostream& errors;  // lines of detail: a port that cannot be opened and the devices there are, a
                           // read-back kept aside, noise, how the transfer goes
};

/// A command given on the command line: the value is its key in the menu.
enum class Command : std::uint8_t {
    erase = '1',
    download = '2',
    verify = '3',
    save = '4',
};

/// What the programmer asks of the machine besides its console and its port.
struct Platform {
    /// Times the round trips of Download, Verify and Save.
    Clock clock = std::chrono::steady_clock::now;
    /// Lines that follow the reason port `port_index` could not be opened:
    /// the serial devices there are and how to use one. None when empty.
    std::function<std::string(int port_index)> other_devices;
    /// Lines on shortening the latency timer of the adapter of port
    /// `port_index`, printed when the round trips are slow. None when empty.
    std::function<std::string(int port_index)> latency_advice;
    /// The command line that carries out `command` (erase, download or
    /// verify) with this run's port, options and image, for advice to run
    /// it by hand. When empty: "flashprog" and the command alone.
    std::function<std::string(Command command)> command_line;
};

/// Loads "dic.uns" from `folder`, runs the menu, opens and drains the
/// chosen port and carries out the one command, with "dic.sav" for Save
/// also in `folder`. Every message is flushed as it is printed. Once
/// `stop` is requested (it is looked at by the keys and the link too) the
/// run ends as soon as it can: at the menu without opening a port, in the
/// drain or a command with one line on what it means for the flash and
/// "Power down the unit.". A line that keeps sending through the drain
/// (kDrainLimit) is said on `consoles.errors`, and nothing is sent. Download, Verify and Save are timed (see
/// RoundTripMeter): a slow line is explained and the time taken is
/// reported on `consoles.errors`. Keys pressed while the command ran are
/// discarded at its end, so that they do not reach what reads the console
/// next.
ExitStatus run_programmer(Consoles consoles, KeySource& keys, const LinkOpener& open_link,
                          const std::filesystem::path& folder, const dicttools::StopRequest& stop,
                          const Platform& platform = {});

/// Whether an image named on the command line is checked before it is sent.
enum class ImageCheck : bool {
    judged,  // judge_image() refuses what is not the linear image, and warns of trouble
    forced,  // sent as it is (--force)
};

/// Carries out `command` without the menu and without reading a key: as
/// run_programmer() once the menu has chosen it, with `file` as the image
/// for Download and Verify (loaded as "dic.uns" is, its messages on
/// `consoles.errors`, and checked as `check` says before the port is
/// opened; Erase and Save load none) and as the read-back file for Save
/// (as "dic.sav" is written). The dialogue on `consoles.out` is the
/// command's as in the menu, with a line end after it.
ExitStatus run_command(Consoles consoles, Command command, const std::filesystem::path& file, int port_index,
                       const LinkOpener& open_link, const dicttools::StopRequest& stop, const Platform& platform = {},
                       ImageCheck check = ImageCheck::judged);

/// The whole cycle in one run: Erase, Download and Verify of the image in
/// `file`, each carried out as run_command() carries it out (the port
/// opened and drained anew, the command's dialogue, "Power down the
/// unit."). The unit takes one command per power-up, so before Download
/// and before Verify the user is asked on `consoles.out` to power it up
/// again and press Enter; keys typed ahead are discarded first. Nothing is
/// sent until the answer: a stop request there (Ctrl+C) ends the run,
/// interrupted. A stage that fails ends the run with its status; the later
/// ones are not carried out. A closing line names each stage done, failed
/// (and how) or not run. Without a console to ask on it is refused on
/// `consoles.errors` before anything (wrong_arguments); an image refused by
/// its check ends it before the port is opened (cannot_start).
ExitStatus run_program(Consoles consoles, KeySource& keys, const std::filesystem::path& file, int port_index,
                       const LinkOpener& open_link, const dicttools::StopRequest& stop, const Platform& platform = {},
                       ImageCheck check = ImageCheck::judged);

}  // namespace flashprog
