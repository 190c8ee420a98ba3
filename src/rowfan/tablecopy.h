// Layout and row copy helpers shared by the task, the rule parser and the
// expansion engine. Columns whose names begin with `_` are bookkeeping and are
// never copied; an empty cell means no value and is never copied.
#pragma once

#include <loadfile/table.h>

void copy_layout(Table* source, Table* destination, const char* extra);
void copy_header(Table* source, Table* destination);
void move_tabrow(Table* source, int source_row, Table* destination, int destination_row);
