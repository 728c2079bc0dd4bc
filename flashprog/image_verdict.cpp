#include "image_verdict.hpp"

#include <string_view>

#include "image_check.hpp"
#include "image_layout.hpp"

namespace flashprog {

namespace {

using dicttools::kImageSize;

ImageVerdict refusal(ImageVerdict::Kind kind, const std::string& line) { return {kind, {"flashprog: " + line + "\n"}}; }

/// The first of the problems and notes dictinfo finds, and how many more there are.
std::string trouble_line(const dictinfo::ImageReport& report, const std::string& name) {
    const std::vector<dictinfo::Finding>& first = report.problems.empty() ? report.notes : report.problems;
    const std::size_t count = report.problems.size() + report.notes.size();
    std::string line = "flashprog: warning: " + name + ": " + (report.problems.empty() ? "note" : "problem") + " at " +
                       dictinfo::hex(first.front().address) + ": " + first.front().what;
    if (count > 1) {
        line += " (and " + std::to_string(count - 1) + " more: dictinfo " + name + " shows them all)";
    }
    return line + "\n";
}

}  // namespace

ImageVerdict judge_image(std::span<const std::uint8_t> bytes, const std::string& name) {
    using Kind = ImageVerdict::Kind;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (dictinfo::looks_like_text(text)) {
        return refusal(Kind::not_an_image, name +
                                               " looks like a text word list, not a dictionary image: dictbuild "
                                               "makes dic.uns, the linear image, from it");
    }
    if (bytes.size() < kImageSize) {
        return refusal(Kind::not_an_image, name + " is not a dictionary image: it has " +
                                               dictinfo::counted(bytes.size(), "byte", "bytes") + ", not 524288");
    }
    if (bytes.size() > kImageSize) {
        return refusal(Kind::not_an_image, name + " is not a dictionary image: it has more than 524288 bytes");
    }
    const dictinfo::ImageReading reading = dictinfo::read_either_way(bytes);
    if (!reading.report.sound() && !reading.some_index_plausible) {
        return refusal(Kind::not_an_image,
                       name + " is not a dictionary image: its index reads wrong in linear and in PROM order");
    }
    if (reading.prom) {
        return refusal(Kind::prom, name +
                                       " is a PROM image (address-scrambled, for a PROM programmer): the flash "
                                       "takes dic.uns, the linear image");
    }
    ImageVerdict verdict;
    if (!reading.report.problems.empty() || !reading.report.notes.empty()) {
        verdict.lines.push_back(trouble_line(reading.report, name));
    } else if (reading.report.groups.empty()) {
        verdict.lines.push_back("flashprog: warning: " + name + " holds no word\n");
    }
    return verdict;
}

std::string prom_image_warning(const std::string& name) {
    return "flashprog: warning: " + name +
           " reads as a PROM image (address-scrambled): the flash takes the linear image, which dictbuild writes as "
           "dic.uns\n";
}

}  // namespace flashprog
