// Wall time and a fixed workload for callgrind of the readers and the merge,
// without Python: readers DATA_DIR [repeats]. With repeats = 1 each reader
// runs once, which is what `valgrind --tool=callgrind` should count.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "readers/celestrak_csv.hpp"
#include "readers/dtcfile.hpp"
#include "readers/legacy_text.hpp"
#include "readers/gfz_hpo.hpp"
#include "readers/gfz_kp.hpp"
#include "readers/solfsmy.hpp"
#include "readers/swpc_forecast.hpp"
#include "store/index_store.hpp"

namespace {

/// The file's bytes in one read, as Python's read() takes them: the floor
/// of a reader's time. Empty when it cannot be read.
std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  std::string bytes(static_cast<std::size_t>(in.tellg()), '\0');
  in.seekg(0);
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

/// The median wall time of `repeats` runs of `work`, in microseconds.
double median_us(int repeats, const std::function<void()>& work) {
  std::vector<double> times;
  for (int i = 0; i < repeats; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    times.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

/// The records of a legacy text read, or its error.
sunindex::Result<std::vector<sunindex::DailyIndices>> parse_legacy_text_records(std::string_view content) {
  auto parsed = sunindex::parse_legacy_text(content);
  if (!parsed.ok()) return std::move(parsed.error());
  return std::move(parsed.value().records);
}

/// A row for a reader of one of GFZ's files: its time on `path`, and that
/// time as a multiple of the read of the file's bytes.
template <class Read>
void gfz_row(const char* name, const std::string& path, int repeats, const Read& read) {
  const std::string content = slurp(path);
  if (content.empty()) {
    std::printf("%-7s skipped: %s not found\n", name, path.c_str());
    return;
  }
  bool ok = true;
  const double reader = median_us(repeats, [&] { ok = read(content) && ok; });
  if (!ok) {
    std::fprintf(stderr, "%s: %s does not read\n", name, path.c_str());
    std::exit(1);
  }
  const double floor = median_us(repeats, [&] { ok = !slurp(path).empty() && ok; });
  std::printf("%-7s %9.1f us (%s; read of its bytes %.1f us: %.1f x, goal 15 x)\n", name, reader, path.c_str(), floor,
              reader / floor);
}

sunindex::IndexStore store_of(sunindex::Result<std::vector<sunindex::DailyIndices>> parsed) {
  if (!parsed.ok()) {
    std::fprintf(stderr, "%s\n", parsed.error().text().c_str());
    std::exit(1);
  }
  return sunindex::IndexStore::from_records(std::move(parsed.value()));
}

/// The forecast of `parsed`, or exits with its error.
sunindex::SwpcForecast forecast_of(sunindex::Result<sunindex::SwpcForecast> parsed) {
  if (!parsed.ok()) {
    std::fprintf(stderr, "%s\n", parsed.error().text().c_str());
    std::exit(1);
  }
  return parsed.value();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s DATA_DIR [repeats]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 51;
  const std::string csv = slurp(dir + "/SW-All.csv"), sol = slurp(dir + "/SOLFSMY.TXT"),
                    dtc = slurp(dir + "/DTCFILE.TXT");
  using namespace sunindex;
  std::printf("csv     %9.1f us\n", median_us(repeats, [&] { store_of(parse_celestrak_csv(csv)); }));
  std::printf("solfsmy %9.1f us\n", median_us(repeats, [&] { store_of(parse_solfsmy(sol)); }));
  std::printf("dtcfile %9.1f us\n", median_us(repeats, [&] { store_of(parse_dtcfile(dtc)); }));
  // The forecast is 1.5 kB: a hundred reads per run lift its time above the clock's resolution.
  const std::string swpc_path = dir + "/swpc/45-day-ap-forecast.txt", swpc = slurp(swpc_path);
  constexpr int swpc_reads = 100;
  const double swpc_us = median_us(repeats, [&] {
    for (int i = 0; i < swpc_reads; ++i) forecast_of(parse_swpc_forecast(swpc));
  }) / swpc_reads;
  const double swpc_bytes_us = median_us(repeats, [&] {
    for (int i = 0; i < swpc_reads; ++i) (void)slurp(swpc_path);
  }) / swpc_reads;
  std::printf("swpc    %9.3f us (reading its bytes %.3f us)\n", swpc_us, swpc_bytes_us);
  std::vector<CelestrakRowExtras> csv_extras;
  std::vector<SolfsmyRowExtras> sol_extras;
  std::vector<HourlyDtc> hourly;
  std::printf("all three with extras %9.1f us\n", median_us(repeats, [&] {
                csv_extras.clear(), sol_extras.clear(), hourly.clear();
                (void)parse_celestrak_csv(csv, csv_extras);
                (void)parse_solfsmy(sol, sol_extras);
                (void)parse_dtcfile(dtc, hourly);
              }));
  gfz_row("gfz_kp", dir + "/gfz/Kp_ap_Ap_SN_F107_rebuilt_from_SW-All.txt", repeats,
          [](const std::string& content) { return parse_gfz_kp(content).ok(); });
  gfz_row("hp30", dir + "/hpo/Hp30_ap30_complete_series.txt", repeats,
          [](const std::string& content) { return parse_gfz_hpo(content, HpoCadence::minutes30).ok(); });
  double merge_total = 0;
  for (int i = 0; i < repeats; ++i) {
    IndexStore a = store_of(parse_celestrak_csv(csv)), b = store_of(parse_solfsmy(sol)),
               c = store_of(parse_dtcfile(dtc));
    merge_total += median_us(1, [&] { a.merge(b), a.merge(c); });
  }
  std::printf("merge   %9.1f us (mean)\n", merge_total / repeats);

  // The legacy text file beside the time to read its bytes, which its goal is counted in.
  const std::string legacy_path = dir + "/legacy/SW-All.txt";
  const std::string legacy = slurp(legacy_path);
  if (legacy.empty()) return 0;
  std::printf("legacy text SW-All.txt %9.1f us\n",
              median_us(repeats, [&] { store_of(parse_legacy_text_records(legacy)); }));
  std::printf("  its bytes read        %9.1f us\n", median_us(repeats, [&] { (void)slurp(legacy_path); }));
  return 0;
}
