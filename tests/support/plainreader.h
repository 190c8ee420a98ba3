// The load file format read plainly, line by line as an 80-byte read takes
// them, with the string routines' own cleaning: what the reader's fast paths
// (vector scans, lines cut in blocks, rows that name their columns as the
// row before) must agree with, byte for byte. Shared by the reader's tests
// and its fuzzing harness.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include <loadfile/loadfile.h>
#include <loadfile/lodstring.h>
#include <loadfile/table.h>

namespace vela_test {

class PlainReader {
 public:
  // `lineno`: lines already read, remark lines before these bytes.
  explicit PlainReader(std::string_view bytes, int lineno = 0) : bytes_(bytes), lineno_(lineno) {}

  // The Table, or null with the reader's message in `error`.
  TablePtr read(std::string* error) {
    TablePtr table(create_table());
    if (parse(table.get())) return table;
    *error = "Syntax error in loadile at line " + std::to_string(lineno_);
    return nullptr;
  }

 private:
  enum Token { kBad, kEnd, kBlank, kRemark, kData, kEndRow, kEndHeader, kEndFile };

  Token next() {
    if (pos_ == bytes_.size()) return kEnd;
    size_t take = 0;
    while (take < 79 && pos_ + take < bytes_.size()) {
      if (bytes_[pos_ + take++] == '\n') break;
    }
    line_.assign(bytes_.substr(pos_, take));
    pos_ += take;
    ++lineno_;
    // What a C string holds: the bytes up to the first NUL.
    line_.resize(std::strlen(line_.c_str()));
    if (line_.empty() || line_.back() != '\n') return kBad;
    size_t first = 0;
    while (first < line_.size() && is_blank_byte(line_[first])) ++first;
    if (!in_comment_ && first == line_.size()) return kBlank;
    if (!in_comment_ && line_[first] == '#') return kRemark;
    std::string words = line_;
    while (!words.empty() && is_blank_byte(words.back())) words.pop_back();
    strucase(words.data());
    if (words == "ENDROW") return kEndRow;
    if (words == "ENDHEADER") return kEndHeader;
    if (words == "ENDFILE") return kEndFile;
    return kData;
  }

  int put(Table* table, bool header) {
    if (in_comment_) {
      return header ? cat_tab_key(table, comment, line_)
                    : cat_tab_cell(table, comment, row_, line_);
    }
    size_t equals = line_.find('=');
    if (equals == std::string::npos) return -1;
    std::string name = line_.substr(0, equals);
    std::string value = line_.substr(equals + 1);
    strclean(name.data());
    strucase(name.data());
    name.resize(std::strlen(name.c_str()));
    if (name == comment) {
      in_comment_ = true;
    } else {
      strclean(value.data());
      value.resize(std::strlen(value.c_str()));
    }
    if (header) return put_tab_key(table, name, value);
    return put_tab_cell(table, name, row_, value);
  }

  bool parse(Table* table) {
    Token token;
    while ((token = next()) != kEndHeader) {
      if (token == kBlank || token == kRemark) continue;
      if (token != kData || put(table, true) < 0) return false;
    }
    in_comment_ = false;
    while ((token = next()) != kEndFile) {
      if (token == kBlank || token == kRemark) continue;
      if (token == kEndRow) {
        in_comment_ = false;
        ++row_;
        continue;
      }
      if (token != kData || put(table, false) < 0) return false;
    }
    in_comment_ = false;
    while ((token = next()) == kBlank) {
    }
    return token == kEnd;
  }

  std::string_view bytes_;
  size_t pos_ = 0;
  std::string line_;
  int lineno_ = 0;
  int row_ = 0;
  bool in_comment_ = false;
};

}  // namespace vela_test
