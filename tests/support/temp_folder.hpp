// A scratch folder for one test, removed with everything in it afterwards.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

/// The folder separator in a path as this system writes it: "/" or "\\".
inline const std::string kSeparator = std::filesystem::path("/").make_preferred().string();

class TempFolder {
public:
    TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder();

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

    void write(std::string_view name, std::string_view bytes) const;
    /// The whole file, or an empty string when it does not exist.
    std::string read(std::string_view name) const;
    bool exists(std::string_view name) const;
    /// How many entries the folder holds.
    std::size_t entry_count() const;

private:
    std::filesystem::path path_;
};

/// The exit status, standard output and standard error of a program run to
/// its end.
struct ProgramRun {
    int exit_status = -1;
    std::string output;
    std::string errors;
};

/// Runs `program` with `args` in `folder`, its standard input empty.
/// (POSIX only.)
ProgramRun run_in_folder(const std::filesystem::path& program, const std::filesystem::path& folder,
                         const std::vector<std::string>& args = {});

}  // namespace testing_support
