// The fuzz targets' checks without libFuzzer, for the test suite:
// replay [--outcomes] TARGET PATH... checks every input under each PATH (a
// file, or a folder's files in name order) as fuzz_TARGET would, TARGET
// being celestrak_csv, solfsmy, dtcfile, msfc_prediction, swpc_forecast,
// legacy_text, gfz_kp or gfz_hpo. Each input's path is printed before it is
// checked, so that a broken property, which aborts, follows the name of its
// input; with --outcomes (swpc_forecast, gfz_kp and gfz_hpo) the read's
// outcome follows on a line of its own, indented. When every check holds
// the last line is "N inputs checked".
// replay legacy_text_vs_csv TEXT CSV YYYY-MM-DD [NAME,...] compares the
// observed rows of a legacy text file up to that day with the CSV's rows of
// the same days, all but the extras named (as the CSV's header names them),
// and prints "N observed rows equal".
// Exit status 2 for a usage error, 1 for an input that cannot be read.

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "targets.hpp"

namespace {

namespace fs = std::filesystem;

using Check = void (*)(std::string_view);
using Outcome = std::string (*)(std::string_view);

struct Target {
  Check check;
  Outcome outcome;  // nullptr for a target whose outcomes are not told
};

Target target_of(std::string_view name) noexcept {
  if (name == "celestrak_csv") return {fuzz::check_celestrak_csv, nullptr};
  if (name == "solfsmy") return {fuzz::check_solfsmy, nullptr};
  if (name == "dtcfile") return {fuzz::check_dtcfile, nullptr};
  if (name == "msfc_prediction") return {fuzz::check_msfc_prediction, nullptr};
  if (name == "swpc_forecast") return {fuzz::check_swpc_forecast, fuzz::describe_swpc_forecast};
  if (name == "legacy_text") return {fuzz::check_legacy_text, nullptr};
  if (name == "gfz_kp") return {fuzz::check_gfz_kp, fuzz::outcome_gfz_kp};
  if (name == "gfz_hpo") return {fuzz::check_gfz_hpo, fuzz::outcome_gfz_hpo};
  return {nullptr, nullptr};
}

/// `path` itself, or the files in the folder it names, in name order.
std::vector<fs::path> inputs_under(const fs::path& path, std::error_code& error) {
  if (!fs::is_directory(path, error)) return {path};
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(path, error)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

/// The file's bytes in a buffer of exactly their size, as libFuzzer hands
/// an input over, so that AddressSanitizer sees a read past the end; none
/// when the file cannot be read.
std::optional<std::vector<char>> read_exactly(const fs::path& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  std::vector<char> bytes(static_cast<std::size_t>(in.tellg()));
  in.seekg(0);
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return std::nullopt;
  return bytes;
}

/// The legacy_text_vs_csv form: 0 when the rows agree (a broken one aborts).
int compare_text_with_csv(const char* text_path, const char* csv_path, const char* last_day,
                          std::string_view unchecked) {
  sunindex::CelestrakRowExtras::Bits unchecked_bits = 0;
  for (std::size_t e = 0; e < sunindex::celestrak_extra_names.size(); ++e) {
    const std::string_view name = sunindex::celestrak_extra_names[e];
    for (std::string_view rest = unchecked; !rest.empty();) {
      const std::size_t comma = std::min(rest.find(','), rest.size());
      if (rest.substr(0, comma) == name) {
        unchecked_bits |= sunindex::CelestrakRowExtras::bit(static_cast<sunindex::CelestrakExtra>(e));
      }
      rest.remove_prefix(std::min(comma + 1, rest.size()));
    }
  }
  int year = 0, month = 0, day = 0;
  if (std::sscanf(last_day, "%d-%d-%d", &year, &month, &day) != 3) {
    std::fprintf(stderr, "%s: not a day YYYY-MM-DD\n", last_day);
    return 2;
  }
  const auto text = read_exactly(text_path), csv = read_exactly(csv_path);
  if (!text || !csv) {
    std::fprintf(stderr, "%s: cannot be read\n", text ? csv_path : text_path);
    return 1;
  }
  const sunindex::CivilDate last{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
  const std::size_t equal = fuzz::compare_legacy_text_with_csv({text->data(), text->size()},
                                                               {csv->data(), csv->size()}, last, unchecked_bits);
  std::printf("%zu observed rows equal\n", equal);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 5 || argc == 6) && std::string_view(argv[1]) == "legacy_text_vs_csv") {
    return compare_text_with_csv(argv[2], argv[3], argv[4], argc == 6 ? argv[5] : "");
  }
  const bool outcomes = argc >= 2 && std::string_view(argv[1]) == "--outcomes";
  const int first_path = 2 + outcomes;
  const Target target = argc >= first_path ? target_of(argv[first_path - 1]) : Target{nullptr, nullptr};
  if (target.check == nullptr || (outcomes && target.outcome == nullptr)) {
    std::fprintf(stderr,
                 "usage: %s celestrak_csv|solfsmy|dtcfile|msfc_prediction|swpc_forecast|legacy_text|gfz_kp|gfz_hpo "
                 "PATH...\n"
                 "       %s --outcomes swpc_forecast|gfz_kp|gfz_hpo PATH...\n"
                 "       %s legacy_text_vs_csv TEXT CSV YYYY-MM-DD [NAME,...]\n",
                 argv[0], argv[0], argv[0]);
    return 2;
  }
  std::size_t checked = 0;
  for (int i = first_path; i < argc; ++i) {
    std::error_code error;
    for (const fs::path& input : inputs_under(argv[i], error)) {
      const auto bytes = read_exactly(input);
      if (!bytes) {
        std::fprintf(stderr, "%s: cannot be read\n", input.c_str());
        return 1;
      }
      std::printf("%s\n", input.c_str());
      std::fflush(stdout);
      const std::string_view data(bytes->data(), bytes->size());
      target.check(data);
      if (outcomes) std::printf("  %s\n", target.outcome(data).c_str());
      ++checked;
    }
    if (error) {
      std::fprintf(stderr, "%s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  std::printf("%zu inputs checked\n", checked);
  return 0;
}
