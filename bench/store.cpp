// Times the table store's hot path: 10 million put_tab_cell calls filling a
// table of 10 columns and 1,000,000 rows, then reading every cell back.
//
//   bench_store [rows]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <loadfile/table.h>

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  constexpr int kColumns = 10;
  int rows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  if (rows < 1) rows = 1000000;

  const char* names[kColumns] = {"OBJECT",  "FILTER", "EXPTIME",  "RA",   "DEC",
                                 "AIRMASS", "DATE",   "OBSERVER", "MODE", "FRAME"};
  // Values made before timing, so that only the store is measured.
  std::string values[100];
  for (int i = 0; i < 100; ++i) values[i] = "value-" + std::to_string(i * 7919);

  TablePtr table(create_table());
  auto start = std::chrono::steady_clock::now();
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < kColumns; ++c) {
      if (put_tab_cell(table.get(), names[c], r, values[(r + c) % 100]) != 0) {
        std::printf("put_tab_cell failed at row %d: %s\n", r, lod_error);
        return 1;
      }
    }
  }
  double put_seconds = seconds_since(start);

  start = std::chrono::steady_clock::now();
  long long bytes = 0;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < kColumns; ++c) bytes += *get_tab_cell(table.get(), names[c], r) != '\0';
  }
  double get_seconds = seconds_since(start);

  double calls = static_cast<double>(rows) * kColumns;
  std::printf("put_tab_cell: %.0f calls in %.3f s, %.2f million calls/s\n", calls, put_seconds,
              calls / put_seconds / 1e6);
  std::printf("get_tab_cell: %.0f calls in %.3f s, %.2f million calls/s (%lld non-empty)\n", calls,
              get_seconds, calls / get_seconds / 1e6, bytes);
  std::printf("cells: %d entries, %d bytes of text (%lld reserved)\n", table->cells.count,
              table->cells.chars.used, table->cells.chars.allocated);
  return 0;
}
