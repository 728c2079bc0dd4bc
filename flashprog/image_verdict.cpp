#include "image_verdict.hpp"

#include <string_view>

#include "image_check.hpp"
#include "image_layout.hpp"

namespace flashprog {

namespace {

using dicttools::kImageSize;

ImageVerdict refusal(ImageVerdict::Kind kind, const std::string& line) { return {kind, {"flashprog: " + line + "\n"}}; }

/// The first of `findings` (problems or notes, as `kind` says), and how
/// many more there are.
std::string first_finding(const std::vector<dictinfo::Finding>& findings, const std::string& kind,
                          const std::string& name) {
    std::string text = kind + " at " + dictinfo::hex(findings.front().address) + ": " + findings.front().what;
    if (findings.size() > 1) {
        text += " (and " + std::to_string(findings.size() - 1) + " more: dictinfo " + name + " shows them all)";
    }
    return text;
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
    if (!reading.report.problems.empty()) {
        return refusal(Kind::damaged, name + " is a damaged dictionary image: " +
                                          first_finding(reading.report.problems, "problem", name) +
                                          "; --force sends it as it is");
    }
    ImageVerdict verdict;
    if (!reading.report.notes.empty()) {
        verdict.lines.push_back("flashprog: warning: " + name + ": " +
                                first_finding(reading.report.notes, "note", name) + "\n");
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
