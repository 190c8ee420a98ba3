// The findings of a checked run: what the rules did with this load file, one
// per line on standard output in the form editors jump to, FILE:LINE: text.
// Findings inform only; they never change how the run ends.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <loadfile/loadfile.h>
#include <loadfile/table.h>
#include "expand.h"
#include "rules.h"

// Every option given that no part of the tool has asked for, named as typed,
// with the option asked for nearest its name when one is near.
void report_unread_options(std::string_view tool);

// Every column given again in a row of `load_file`, with the line whose
// value is lost.
void report_load_repeats(std::string_view load_file, const std::vector<LoadRepeat>& repeats);

// Why the reader refused `load_file`, and the repeats it noted on the way:
// to follow the report of the error, which is to come next.
void explain_load_error(std::string_view load_file, const std::vector<LoadRepeat>& repeats);

// Findings that explain the error about to be reported, each a FILE:LINE:
// text line: written after the report's own line, as the process ends.
void explain_next_error(std::vector<std::string> lines);

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
