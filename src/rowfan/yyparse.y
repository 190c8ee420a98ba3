/* The rule grammar. Each rule becomes one row of the target table (its
 * tests) and one action-table row per choice (its assignments); a rule that
 * names a column the load file lacks is dropped whole at its `;`. */

%define api.pure full
// Syntax errors say what was expected, and each state expects only what it
// can take: no reduction is made on a token before it is known to fit.
%define parse.error custom
%define lr.default-reduction consistent
%param {RuleParse& parse}

%code requires {
#include "ruleparse.h"
}

%code provides {
// The scanner's entry: the next token of the file `scanner` reads.
int rule_token(YYSTYPE* value, void* scanner);
}

%code {
#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "check.h"
#include "columns.h"
#include <loadfile/loadfile.h>
#include <loadfile/loadline.h>
#include <loadfile/lodstring.h>
#include <velalib/velaerror.h>

namespace {

int yylex(YYSTYPE* value, RuleParse& parse) {
  // The scanner stops right after a token: the line it stands on is where
  // the token before the next one ended.
  parse.after_line = parse.xline;
  return rule_token(value, parse.scanner.get());
}

void yyerror(RuleParse& parse, const char* message);

std::string_view word(const RuleParse& parse, RuleWord w) {
  return std::string_view(parse.words.text.get() + w.at, w.length);
}

// Room for `length` more bytes and a NUL; there is always some text, so
// that even an empty value points somewhere.
char* make_room(WordText& words, size_t length) {
  if (!words.text || words.capacity - words.size <= length) {
    size_t capacity = std::max<size_t>(256, 2 * (words.size + length + 1));
    auto text = std::make_unique<char[]>(capacity);
    if (words.size > 0) std::memcpy(text.get(), words.text.get(), words.size);
    words.text = std::move(text);
    words.capacity = capacity;
  }
  return words.text.get() + words.size;
}

}  // namespace

RuleWord scan_word(RuleParse& parse, std::string_view token) {
  if (!token.empty() && (token[0] == '"' || token[0] == '\'')) {
    // What stands between the quotes; a NUL byte ends the text as well.
    const char stop = token[0];
    token.remove_prefix(1);
    token = token.substr(0, token.find(stop));
    token = token.substr(0, token.find('\0'));
  }
  char* const start = make_room(parse.words, token.size());
  // Copied and upper-cased in one pass: values are filed as the load file's
  // reader files names.
  std::transform(token.begin(), token.end(), start, upper_byte);
  start[token.size()] = '\0';
  const RuleWord w{static_cast<int>(parse.words.size), static_cast<int>(token.size()), parse.xline};
  parse.words.size += token.size();
  return w;
}

namespace {

// Once a test or an assignment has used its values, none is pending unless
// the scanner has already read past the second: then the text waits for the
// next one.
void release_words(RuleParse& parse, RuleWord last) {
  if (parse.words.size == static_cast<size_t>(last.at) + last.length) parse.words.size = 0;
}

// Column names of one Table differ mostly in length or in their first or
// last byte; a hash of those three spreads them over the slots at a fraction
// of the cost of hashing every byte, which a name is looked up too often to
// pay. Names that share all three stay apart, only a step slower.
std::size_t column_hash(std::string_view name) {
  if (name.empty()) return 0;
  return (name.size() * 7 + static_cast<unsigned char>(name.front()) * 3 +
          static_cast<unsigned char>(name.back())) *
         kHashMul >>
         32;
}

int column_of(ColumnIndex& index, std::string_view name) {
  const std::size_t hash = column_hash(name);
  auto same = [&](const ColumnSlot& slot) {
    return slot.length == name.size() && std::memcmp(slot.name, name.data(), name.size()) == 0;
  };
  if (const ColumnSlot* slot = index.slots.find(hash, same)) return slot->column;
  const int column = get_tab_colnum(index.table, name);
  if (column < 0) return column;
  bool added = false;
  ColumnSlot& slot = index.slots.claim(hash, same, &added);
  slot.name = get_tab_colname(index.table, column);
  slot.length = name.size();
  slot.column = column;
  return column;
}

// Writes a rule's first or last action row into its bookkeeping column.
void put_number(RuleParse& parse, int column, const char* name, int n) {
  char text[16];
  auto [end, ec] = std::to_chars(text, text + sizeof text, n);
  (void)ec;
  const std::string_view number(text, end - text);
  if (column >= 0) {
    put_tab_cell_bynum(parse.xtarget, column, parse.ntarget, number);
  } else {
    put_tab_cell(parse.xtarget, name, parse.ntarget, number);
  }
}

// A value written into the output must keep the load file's line structure:
// only a COMMENT runs on to further lines, and none of them may be one that
// the reader takes as the end of the row. Such a value is refused here,
// before any output is opened, wherever the rule stands.
void check_assigned_value(std::string_view name, std::string_view value, int line) {
  size_t newline = value.find('\n');
  if (newline == std::string_view::npos) return;
  if (name != comment) {
    vela_error(VELA_RULE_SYNTAX, "Value for column %.*s holds a line break on line %d",
               static_cast<int>(name.size()), name.data(), line);
  }
  while (newline != std::string_view::npos) {
    const size_t from = newline + 1;
    newline = value.find('\n', from);
    std::string_view text = value.substr(
        from, newline == std::string_view::npos ? std::string_view::npos : newline - from);
    std::string_view word = closing_load_word(text);
    if (!word.empty()) {
      vela_error(VELA_RULE_SYNTAX, "Value for column %s holds an %.*s line on line %d", comment,
                 static_cast<int>(word.size()), word.data(), line);
    }
  }
}

}  // namespace
}

%union {
  RuleWord word;
}

%token IMPLIES SEMI OR AND EQUALS
%token <word> WORD
%token OTHER

%start rule_list

%initial-action {
  parse.target_columns.table = parse.xtarget;
  parse.action_columns.table = parse.xaction;
  parse.first_col = get_tab_colnum(parse.xtarget, col_first);
  parse.last_col = get_tab_colnum(parse.xtarget, col_last);
}

%%

rule_list
  : rule
  | rule_list rule
  ;

rule
  : condition IMPLIES choice_list SEMI {
      if (parse.missing) {
        // Roll both Tables back to where they stood before the rule.
        parse.missing = false;
        parse.rules.dropped.push_back({parse.rule_line, parse.missing_column});
        trunc_table(parse.xtarget, parse.ntarget);
        trunc_table(parse.xaction, parse.first);
        parse.naction = parse.first;
      } else {
        put_number(parse, parse.first_col, col_first, parse.first);
        put_number(parse, parse.last_col, col_last, parse.naction - 1);
        parse.rules.rule_line.push_back(parse.rule_line);
        parse.first = parse.naction;
        ++parse.ntarget;
      }
      parse.rule_line = 0;
      parse.in_choice = false;
    }
  ;

condition
  : test
  | condition AND test
  ;

test
  : WORD EQUALS WORD {
      if (parse.rule_line == 0) parse.rule_line = $1.line;
      const int column = column_of(parse.target_columns, word(parse, $1));
      if (column < 0) {
        if (!parse.missing) parse.missing_column = word(parse, $1);
        parse.missing = true;
      } else if (!parse.missing) {
        put_tab_cell_bynum(parse.xtarget, column, parse.ntarget, word(parse, $3));
      }
      release_words(parse, $3);
    }
  ;

choice_list
  : choice { parse.in_choice = false; }
  | choice_list OR choice { parse.in_choice = false; }
  ;

choice
  : assignment
  | choice AND assignment
  ;

assignment
  : WORD EQUALS WORD {
      const std::string_view name = word(parse, $1);
      const std::string_view value = word(parse, $3);
      check_assigned_value(name, value, $3.line);
      const int column = column_of(parse.action_columns, name);
      if (column < 0) {
        if (!parse.missing) parse.missing_column = name;
        parse.missing = true;
      } else if (!parse.missing && !parse.in_choice) {
        // A choice is one action row, begun by its first assignment.
        put_tab_cell_bynum(parse.xaction, column, parse.naction, value);
        ++parse.naction;
        parse.in_choice = true;
      } else if (!parse.missing && !value.empty() && !is_bookkeeping(name)) {
        // Later assignments of the choice set its row's cells, but never
        // empty one and never a bookkeeping column.
        put_tab_cell_bynum(parse.xaction, column, parse.naction - 1, value);
      }
      release_words(parse, $3);
    }
  ;

%%

namespace {

[[noreturn]] void report_syntax_error(RuleParse& parse) {
  // The token text of the end of input is empty; a NUL byte ends it.
  std::string_view token = rule_token_text(parse);
  token = token.substr(0, token.find('\0'));
  vela_error(VELA_RULE_SYNTAX, "Last token read (%.*s) on line %d", static_cast<int>(token.size()),
             token.data(), parse.xline);
}

void yyerror(RuleParse& parse, const char*) {
  report_syntax_error(parse);
}

const char* expected_text(yysymbol_kind_t symbol) {
  switch (symbol) {
    case YYSYMBOL_YYEOF:
      return "the end of the file";
    case YYSYMBOL_IMPLIES:
      return "'=>'";
    case YYSYMBOL_SEMI:
      return "';'";
    case YYSYMBOL_OR:
      return "'||'";
    case YYSYMBOL_AND:
      return "'&&'";
    case YYSYMBOL_EQUALS:
      return "'='";
    case YYSYMBOL_WORD:
      return "a word";
    default:
      return "nothing";
  }
}

}  // namespace

// What the grammar would have taken where the offending token stands, said
// at the line where the token before it ended: where the missing piece
// belongs.
int yyreport_syntax_error(const yypcontext_t* context, RuleParse& parse) {
  if (parse.how.explain_errors) {
    yysymbol_kind_t expected[YYNTOKENS];
    const int n = yypcontext_expected_tokens(context, expected, YYNTOKENS);
    const int line = parse.after_line;
    std::string text = parse.rules.path + ':' + std::to_string(line) + ": expected ";
    for (int i = 0; i < n; i++) text += std::string(i > 0 ? " or " : "") + expected_text(expected[i]);
    if (yypcontext_token(context) == YYSYMBOL_YYEOF) {
      text += " before the end of the file";
    } else {
      std::string_view token = rule_token_text(parse);
      token = token.substr(0, token.find('\0'));
      char shown[64];
      vela_fit_detail(shown, sizeof shown - 1, token);
      text += std::string(" before ") + shown + " on line " + std::to_string(parse.xline);
    }
    explain_next_error({text});
  }
  report_syntax_error(parse);
}
