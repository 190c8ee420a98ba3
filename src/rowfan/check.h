// The findings of a checked run: what the rules did with this load file, one
// per line on standard output in the form editors jump to, FILE:LINE: text.
// Findings inform only; they never change how the run ends.
#pragma once

#include <string_view>

#include <loadfile/table.h>
#include "expand.h"
#include "rules.h"

// Every rule the parser dropped from `rules` for naming a column that
// `input` lacks, with the column of `input` nearest that name when one is
// near.
void report_dropped_rules(const RuleFile& rules, Table* input);

// What the run showed: the rules that matched no row, the columns of `input`
// whose values the output leaves empty, and a closing summary line.
void report_run(const RuleFile& rules, std::string_view input_file, Table* input,
                const ExpansionRecord& record);

// The column of `table` nearest `name` by edit distance, when it is near for
// a name of that length; null otherwise.
const char* nearest_column(Table* table, std::string_view name);
