// Reading a large load file in two halves at once: the reader takes the
// file up to an "ENDROW" line near its middle while a second thread reads
// the rows after it, and the two sets of rows are joined. Whatever the
// second half holds, the result is that of reading the whole file in one
// piece: when its rows cannot simply follow the first half's (a syntax
// error, a column the first rows did not have, an empty row at the cut),
// they are dropped and the first half reads on from the cut, so that every
// message names the line it would have named. Private to the load file
// library.
#pragma once

#include <atomic>
#include <cstddef>

#include <loadfile/table.h>
#include "loadparser.h"
#include "workerthread.h"

// The second half's read, on a thread of its own. Stopped and joined when
// it goes.
struct LoadHalf {
  std::size_t cut = 0;            // where the second half begins; 0: one piece
  bool tried = false;             // the second half was started, or could not be
  LoadParserPtr parser;           // the second half's reader,
  TablePtr table;                 // and its rows, in the first half's columns
  std::atomic<bool> stop{false};  // the first half failed: the second gives up
  bool read = false;              // the second half read to its end without error
  WorkerThread thread;

  LoadHalf() = default;
  LoadHalf(const LoadHalf&) = delete;
  LoadHalf& operator=(const LoadHalf&) = delete;
  ~LoadHalf();
};

// Test switches. With `load_split_forced`, every regular file that can be
// cut is read in two halves, whatever its size and however many processors
// the process may run on (builds made to test the threads set it from the
// start: ROWFAN_SPLIT_FORCED). `load_halves_joined` counts the reads whose
// two halves were joined.
extern bool load_split_forced;
extern std::atomic<int> load_halves_joined;

// Where a large regular file can be cut; when it can, the parser's input
// ends there for now, and `half` is ready to read the rest.
void plan_load_halves(LoadParser* parser, LoadHalf* half);

// At the end of each row of a read in halves: the first half starts the
// second once its columns are settled (its Table has two rows, so no column
// can come any more); the second learns whether to give up. False: give up.
bool end_load_half_row(LoadParser* parser, Table* table);

// Whether the end of input the first half's rows just met is the cut.
inline bool load_half_paused(const LoadParser* parser) {
  return parser->half != nullptr && parser->file.left == 0 && !parser->file.read_failed;
}

// At the cut: waits for the second half and appends its rows to `table`.
// True when the whole file is read so; false when the first half is to read
// on from the cut, its input no longer ending there.
bool join_load_half(LoadParser* parser, Table* table);
