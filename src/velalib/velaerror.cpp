// Numbered messages of the tool set. Every diagnostic passes through
// vela_message, the one place that decides where a line goes, whether the run
// is marked as failed and whether the process ends.
#include <velalib/velaerror.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <loadfile/buffer.h>
#include <velalib/velastring.h>

const char* const error_msg[VELA_NMSG] = {
    "Unrecognized error code",
    "Cannot open file",
    "Illegal value",
    "Ambiguous value",
    "Cannot determine reference file type",
    "Unrecognized data file type",
    "Record not in linked list",
    "Unrecognized rule function",
    "Internal error: value not in list",
    "Wrote file",
    "Column not found in catalog",
    "Too many keywords in catalog line",
    "Error in date format",
    "Cannot rename file",
    "Cannot process load file",
    "Cannot write to file",
    "Unrecognized instrument name",
    "Cannot determine iraf directory",
    "Unrecognized reference file type",
    "Query variable not in list",
    "Can't break query at blank",
    "String too long for internal buffer",
    "File renamed",
    "Wrong number of arguments to task",
    "Number of widths does not match columns",
    "No throughput column found in table",
    "Recursive logical name translation",
    "No translation for logical name",
    "Column not found in table",
    "Rule file syntax error",
    "Match not found in throughput catalog",
    "Illegal value in template file field",
    "Unknown extension for reference file",
    "Cannot read file as its supposed type",
    "Could not match keywords in header",
    "Header keyword not found in file",
    "Cannot get number of rows in file",
    "File has already been expanded",
    "Contained file can't be renamed",
    "Can't generate unique file name",
    "Can't modify filenames in file",
    "No rows matched in database table",
    "VELA task installation date",
    "Option name not recognized",
    "Could not parse option",
    "Only one observation may be queried",
    "Cannot pass file name list as an arg",
    "Syntax error in query format",
    "Can't get instrument from file name",
    "Observation mode not found in list",
    "Root name not found in database",
    "Reference file not found in database",
    "Too many arguments on command line",
    "Can't add column to table",
    "Database table column name is ambiguous",
    "No translation for string in dictionary",
    "Closing quote missing from string",
    "Closing dot missing from operator",
    "Too many database tables in query",
    "Database columns not found",
};

int vela_errorflag = 0;
void (*vela_errhandler)(int level, char* text) = nullptr;
void (*vela_exit)(int status) = [](int status) { std::exit(status); };

namespace {

bool messages_to_stderr = false;

constexpr int kLineMax = 511;  // characters; the buffers hold one more for the NUL

// A control byte would break the line or drive the terminal; the tab is
// harmless and stays.
bool is_control(unsigned char c) {
  return (c < 0x20 && c != '\t') || c == 0x7f;
}

size_t shown_width(unsigned char c) {
  if (!is_control(c)) return 1;
  return c == '\n' || c == '\r' ? 2 : 4;  // "\n", "\r", or "\x1b"
}

char* put_shown(char* out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (char ch : text) {
    auto c = static_cast<unsigned char>(ch);
    if (!is_control(c)) {
      *out++ = ch;
    } else if (c == '\n' || c == '\r') {
      *out++ = '\\';
      *out++ = c == '\n' ? 'n' : 'r';
    } else {
      *out++ = '\\';
      *out++ = 'x';
      *out++ = kHex[c >> 4];
      *out++ = kHex[c & 15];
    }
  }
  return out;
}

// A cut does not split a UTF-8 sequence: it moves off up to three
// continuation bytes (a longer run is no sequence and is cut anywhere).
bool is_continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xc0) == 0x80;
}
constexpr int kMaxContinuation = 3;

// Composes "text (detail)\n" within kLineMax characters and delivers it.
void report(int level, int code, const char* format, va_list args) {
  // A bad code is itself an error, whatever severity the caller asked for.
  if (code < 0 || code >= VELA_NMSG) vela_error(0, "%d", code);

  // Almost every detail fits the line buffer; a longer one (a huge token or
  // file name) is formatted again in full, since its end is kept too.
  va_list again;
  va_copy(again, args);
  char detail[kLineMax + 1];
  int length = std::vsnprintf(detail, sizeof detail, format, args);
  std::unique_ptr<char[]> long_detail;
  const char* full = detail;
  if (length < 0) {
    length = 0;
    detail[0] = '\0';
  } else if (length > kLineMax) {
    long_detail.reset(new char[static_cast<size_t>(length) + 1]);
    std::vsnprintf(long_detail.get(), static_cast<size_t>(length) + 1, format, again);
    full = long_detail.get();
  }
  va_end(again);

  const size_t room = kLineMax - std::strlen(error_msg[code]) - 4;  // " (" and ")\n"
  char shown[kLineMax + 1];
  vela_fit_detail(shown, room, std::string_view(full, static_cast<size_t>(length)));

  char line[kLineMax + 1];
  safecopy(line, error_msg[code], kLineMax);
  safecat(line, " (", kLineMax);
  safecat(line, shown, kLineMax);
  safecat(line, ")\n", kLineMax);
  vela_message(level, line);
}

}  // namespace

size_t vela_fit_detail(char* out, size_t width, std::string_view text) {
  size_t total = 0;
  for (char c : text) total += shown_width(static_cast<unsigned char>(c));
  if (total <= width) {
    *put_shown(out, text) = '\0';
    return total;
  }
  // The head and the tail of the text, each about half of what fits beside
  // the "..." marking the cut.
  constexpr std::string_view kCut = "...";
  const size_t room = width > kCut.size() ? width - kCut.size() : 0;
  const size_t tail_room = room / 2;
  size_t head = 0;
  for (size_t used = 0; head < text.size(); ++head) {
    size_t w = shown_width(static_cast<unsigned char>(text[head]));
    if (used + w > room - tail_room) break;
    used += w;
  }
  for (int i = 0; i < kMaxContinuation && head > 0 && is_continuation(text[head]); ++i) --head;
  size_t tail = text.size();
  for (size_t used = 0; tail > head; --tail) {
    size_t w = shown_width(static_cast<unsigned char>(text[tail - 1]));
    if (used + w > tail_room) break;
    used += w;
  }
  for (int i = 0; i < kMaxContinuation && tail < text.size() && is_continuation(text[tail]); ++i)
    ++tail;

  char* end = put_shown(out, text.substr(0, head));
  if (width >= kCut.size()) end = std::copy(kCut.begin(), kCut.end(), end);
  end = put_shown(end, text.substr(tail));
  *end = '\0';
  return static_cast<size_t>(end - out);
}

void vela_error(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(2, code, format, args);
  va_end(args);
  // vela_message ends the process at level 2; this only satisfies [[noreturn]].
  vela_exit(1);
  std::exit(1);
}

void vela_warn(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(1, code, format, args);
  va_end(args);
}

void vela_info(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  report(0, code, format, args);
  va_end(args);
}

void vela_messages_to_stderr() {
  messages_to_stderr = true;
  out_of_memory_on_stderr = true;
}

void vela_message(int level, char* text) {
  // Whoever composed the line, it leaves here as one line: a text that
  // would span lines, drive the terminal or pass the line limit is shown as
  // a report's detail is. A composed report passes unchanged.
  std::string_view body(text);
  const bool ends_line = body.ends_with('\n');
  if (ends_line) body.remove_suffix(1);
  char fitted[kLineMax + 1];
  if (body.size() > kLineMax - 1 ||
      std::any_of(body.begin(), body.end(), [](char c) { return is_control(c); })) {
    size_t length = vela_fit_detail(fitted, kLineMax - 1, body);
    if (ends_line) fitted[length++] = '\n';
    fitted[length] = '\0';
    text = fitted;
  }
  if (vela_errhandler != nullptr) {
    vela_errhandler(level, text);
  } else {
    std::FILE* stream = messages_to_stderr ? stderr : stdout;
    std::fputs(text, stream);
    // Flushed at once, so message lines keep their place among the scanner's
    // own lines on standard error and survive a process that dies later.
    std::fflush(stream);
  }
  if (level == 1) vela_errorflag = 1;
  if (level == 2) {
    vela_exit(1);
    std::exit(1);  // in case the replacement returned
  }
}
