// The image check before a byte is sent: whether a file is the linear
// dictionary image the flash takes, read as dictinfo reads images back.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace flashprog {

struct ImageVerdict {
    enum class Kind {
        linear,        // a dictionary image in linear order: the one the flash takes
        prom,          // a PROM image (address-scrambled), as dictbuild writes dic.bin
        not_an_image,  // a word list, a file of another size, or an index that reads wrong both ways
        damaged,       // a linear image whose layout dictinfo finds broken (words out of order, a stray byte)
    };
    Kind kind = Kind::linear;
    /// Lines for standard error, each with its line end: for a refused
    /// kind the one line that refuses the file; for linear the warnings,
    /// one line for the notes dictinfo makes (a group cut at the end, no
    /// word at all; none when it makes none).
    std::vector<std::string> lines;

    bool refused() const { return kind != Kind::linear; }
};

/// Judges `bytes`, a file as read (up to one byte more than the flash, so
/// that a longer file shows), called `name` in the lines.
ImageVerdict judge_image(std::span<const std::uint8_t> bytes, const std::string& name);

/// The one line that warns, before the menu, that `name` reads as a PROM image.
std::string prom_image_warning(const std::string& name);

}  // namespace flashprog
