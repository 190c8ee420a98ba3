// Reading a large load file in two halves at once (see loadsplit.h).

#include "loadsplit.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include <loadfile/loadfile.h>
#include "storage.h"

std::size_t load_split_min = std::size_t{4} << 20;

#ifndef ROWFAN_SPLIT_FORCED
#define ROWFAN_SPLIT_FORCED false
#endif
bool load_split_forced = ROWFAN_SPLIT_FORCED;
std::atomic<int> load_halves_joined{0};

namespace {

// How far past the middle a row's end is looked for, and in what steps.
constexpr std::size_t kCutReach = std::size_t{1} << 20;
constexpr std::size_t kCutStep = std::size_t{1} << 16;

constexpr std::string_view kCutLine = "\nENDROW\n";

// Whether the process runs with a limit on its memory (ulimit -v or -d).
// Two halves take more memory than one piece: the rows of both at once
// where they are joined, and a second thread. Under a limit that memory may
// be all the run lacks, and when it runs out the file is read again in one
// piece (read_loadfile) from a heap the halves have left in pieces, so a
// limited run is read in one piece from the start.
bool memory_limited() {
  for (int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    struct rlimit limit;
    if (getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) return true;
  }
  return false;
}

// The offset just past the first "ENDROW" line that begins after the middle
// of the file, or 0. Such a line closes a row wherever it stands among the
// rows, inside a COMMENT too; where it stands elsewhere, the first half
// finds the error at it.
std::size_t find_cut(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  auto size = static_cast<std::size_t>(st.st_size);
  if (!load_split_forced) {
    if (size < load_split_min) return 0;
    // With one processor to run on there is no second thread to gain from.
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0 && CPU_COUNT(&cpus) < 2) return 0;
    if (memory_limited()) return 0;
  }
  char window[kCutStep];
  // Each step starts a little before the last one ended, so that a line
  // across the two is seen whole.
  for (std::size_t from = size / 2; from < size && from < size / 2 + kCutReach;
       from += kCutStep - kCutLine.size()) {
    ssize_t got;
    do {
      got = pread(fd, window, kCutStep, static_cast<off_t>(from));
    } while (got < 0 && errno == EINTR);
    if (got < static_cast<ssize_t>(kCutLine.size())) return 0;
    std::size_t at = std::string_view(window, static_cast<std::size_t>(got)).find(kCutLine);
    if (at != std::string_view::npos) {
      std::size_t cut = from + at + kCutLine.size();
      return cut < size ? cut : 0;
    }
  }
  return 0;
}

// The second half's thread. It takes no signal (WorkerThread); running out
// of memory here only drops the second half: its rows go, with the memory
// they held, and the first half reads on from the cut alone, as a read in
// one piece would.
void read_second_half(void* arg) {
  auto* half = static_cast<LoadHalf*>(arg);
  OutOfMemoryThrows drop;
  LoadParser* parser = half->parser.get();
  try {
    half->read =
        parse_load_rows(parser, half->table.get()) == LOAD_ROWS_ENDED && parse_load_trailer(parser);
  } catch (const std::bad_alloc&) {
    half->read = false;
    half->table.reset();
    std::string().swap(parser->comment_rest);
    std::vector<CellPlace>().swap(parser->places);
  }
}

// Starts the second half with the columns of the first, in their order.
// Without the memory or the thread for it the first half reads on alone.
void start_second_half(LoadHalf& half, const LoadParser* first, const Table* table) {
  half.tried = true;
  OutOfMemoryThrows drop;
  try {
    LoadParserPtr parser(new (std::nothrow) LoadParser);
    if (!parser) out_of_memory();
    if (!share_load_block(parser->file, first->file, static_cast<long long>(half.cut))) return;
    parser->half = &half;
    TablePtr rows(create_table());
    if (copy_tab_columns(rows.get(), table) < 0) return;
    half.parser = std::move(parser);
    half.table = std::move(rows);
    if (half.thread.start(read_second_half, &half)) return;
  } catch (const std::bad_alloc&) {
  }
  half.parser.reset();
  half.table.reset();
}

}  // namespace

LoadHalf::~LoadHalf() {
  if (thread.joinable()) {
    stop = true;
    thread.join();
  }
}

void plan_load_halves(LoadParser* parser, LoadHalf* half) {
  half->cut = find_cut(parser->file.fd);
  if (half->cut == 0) return;
  parser->file.left = half->cut;
  parser->half = half;
}

bool end_load_half_row(LoadParser* parser, Table* table) {
  LoadHalf& half = *parser->half;
  if (parser == half.parser.get()) return !half.stop.load(std::memory_order_relaxed);
  if (!half.tried && table->nrow >= 2) start_second_half(half, parser, table);
  return true;
}

bool join_load_half(LoadParser* parser, Table* table) {
  LoadHalf& half = *parser->half;
  parser->half = nullptr;
  lift_load_limit(parser->file);
  if (!half.thread.joinable()) return false;
  half.thread.join();
  // The cut must fall between two rows as the first half left them: no row
  // still to come empty, no row past the last.
  bool joined = half.read && parser->row == table->nrow &&
                static_cast<long long>(parser->lineno) + half.parser->lineno <= INT_MAX &&
                append_tab_rows(table, half.table.get()) == 0;
  // The second half's memory goes before the first reads on, or returns.
  half.parser.reset();
  half.table.reset();
  if (joined) ++load_halves_joined;
  return joined;
}
