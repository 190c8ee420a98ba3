// Times reading a load file into a Table and writing the Table back out.
// Usage: bench_loadfile INPUT OUTPUT. Prints one line per direction with
// the time and the throughput in MB/s of the file's bytes.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>

#include <loadfile/loadfile.h>

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long long size_of(const char* path) {
  struct stat st {};
  return stat(path, &st) == 0 ? static_cast<long long>(st.st_size) : 0;
}

void report(const char* what, double seconds, long long bytes) {
  std::printf("%-6s %8.3f s %9.1f MB/s\n", what, seconds,
              static_cast<double>(bytes) / seconds / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s INPUT OUTPUT\n", argv[0]);
    return 2;
  }
  auto start = std::chrono::steady_clock::now();
  TablePtr table(read_loadfile(argv[1]));
  double read_time = seconds_since(start);
  if (!table) {
    std::fprintf(stderr, "%s: %s\n", argv[1], lod_error);
    return 1;
  }
  start = std::chrono::steady_clock::now();
  int written = write_loadfile(argv[2], table.get());
  double write_time = seconds_since(start);
  if (written != 0) {
    std::fprintf(stderr, "%s: %s\n", argv[2], lod_error);
    return 1;
  }
  std::printf("%d rows, %d columns\n", table->nrow, table->ncol);
  report("read", read_time, size_of(argv[1]));
  report("write", write_time, size_of(argv[2]));
  return 0;
}
