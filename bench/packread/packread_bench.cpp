// Listing and extracting a plain 200 MB BIGF pack of 2,000 members against
// a plain copy of the same file: wall time (median of the runs) and the
// peak resident memory of each command. The pack is generated in a
// temporary folder that is removed at the end.
//
//   packread_bench [runs]        (default 5)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kMembers = 2000;
constexpr int64_t kTotal = 200ll * 1024 * 1024;

void put32be(std::vector<uint8_t>& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

// Returns the largest member's size.
int64_t makepack(const fs::path& file) {
  std::vector<std::string> names;
  for (int i = 0; i < kMembers; ++i) names.push_back("member" + std::to_string(10000 + i) + ".dat");
  uint32_t header = 16;
  for (const auto& n : names) header += 8 + static_cast<uint32_t>(n.size()) + 1;
  const int64_t each = (kTotal - header) / kMembers;
  std::vector<uint8_t> dir{'B', 'I', 'G', 'F'};
  put32be(dir, static_cast<uint32_t>(header + each * kMembers));
  put32be(dir, kMembers);
  put32be(dir, header);
  for (int i = 0; i < kMembers; ++i) {
    put32be(dir, static_cast<uint32_t>(header + each * i));
    put32be(dir, static_cast<uint32_t>(each));
    dir.insert(dir.end(), names[static_cast<size_t>(i)].begin(), names[static_cast<size_t>(i)].end());
    dir.push_back(0);
  }
  std::ofstream out(file, std::ios::binary);
  out.write(reinterpret_cast<const char*>(dir.data()), static_cast<std::streamsize>(dir.size()));
  std::vector<char> data(static_cast<size_t>(each));
  uint32_t x = 12345;
  for (int i = 0; i < kMembers; ++i) {
    for (auto& c : data) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 24);
    }
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
  }
  return each;
}

struct Run {
  double seconds;
  long peakkb;
  int status;
};

// The peak is taken by /usr/bin/time when it is there: a child's own
// accounting would start from the spawning process's size.
const char* kTime = "/usr/bin/time";
fs::path peakfile;

Run run(std::vector<std::string> args, const fs::path& cwd) {
  const bool timed = access(kTime, X_OK) == 0;
  if (timed) args.insert(args.begin(), {kTime, "-f", "%M", "-o", peakfile.string()});
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::perror("spawn");
    std::exit(1);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&actions);
  long peak = usage.ru_maxrss;
  if (timed) {
    std::ifstream in(peakfile);
    in >> peak;
  }
  return {s, peak, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

struct Figures {
  double median;
  long peakkb;
};

Figures measure(const char* what, int runs, const std::vector<std::string>& args, const fs::path& cwd,
                const fs::path& clean) {
  std::vector<double> times;
  long peak = 0;
  for (int i = 0; i <= runs; ++i) {  // the first run only warms the caches
    if (!clean.empty()) {
      fs::remove_all(clean);
      fs::create_directories(clean);
    }
    const Run r = run(args, cwd);
    if (r.status != 0) std::printf("%s: exit status %d\n", what, r.status);
    if (i > 0) times.push_back(r.seconds);
    peak = std::max(peak, r.peakkb);
  }
  std::sort(times.begin(), times.end());
  const Figures f{times[times.size() / 2], peak};
  std::printf("%-12s median %7.3f s  (min %.3f, max %.3f)  peak %6ld KB\n", what, f.median, times.front(), times.back(),
              f.peakkb);
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  char pattern[] = "/tmp/packread_bench_XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const fs::path dir = pattern;
  const fs::path pack = dir / "big.viv";
  const int64_t largest = makepack(pack);
  std::printf("pack: %lld bytes, %d members, largest %lld bytes, %d runs each\n",
              static_cast<long long>(fs::file_size(pack)), kMembers, static_cast<long long>(largest), runs);
  const fs::path out = dir / "out";
  peakfile = dir / "peak.txt";
  const Figures cp = measure("cp", runs, {"/bin/cp", pack.string(), (out / "copy.viv").string()}, dir, out);
  // The same bytes cut into as many files as the pack has members: the cost
  // of creating 2,000 files on this file system.
  measure("split", runs, {"/usr/bin/split", "-b", std::to_string(largest), "-a", "4", pack.string(), "x"}, out, out);
  const Figures list = measure("torvex -l", runs, {TORVEX_EXE, "-l", pack.string()}, dir, {});
  const Figures unpack = measure("torvex -u", runs, {TORVEX_EXE, "-u", pack.string()}, out, out);
  const double budgetkb = (2.0 * static_cast<double>(largest) + 16.0 * 1024 * 1024) / 1024;
  std::printf("ratio to cp: -l %.2f, -u %.2f (target at most 1.5)\n", list.median / cp.median, unpack.median / cp.median);
  std::printf("peak memory: -l %ld KB, -u %ld KB (target below %.0f KB)\n", list.peakkb, unpack.peakkb, budgetkb);
  fs::remove_all(dir);
  return 0;
}
