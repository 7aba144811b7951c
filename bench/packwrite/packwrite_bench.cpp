// Replacing one member of a plain 200 MB BIGF pack, against copying the
// same pack with cp, and with cp followed by a sync of the copy (torvex
// pushes the new pack to the disk before it takes the old one's place): wall
// time of each whole command (median of the runs, the three run in turn) and
// the peak memory of torvex.
//
//   packwrite_bench [runs]          generate, measure, remove the folder
//   packwrite_bench --generate DIR  only leave pack.viv and m005.dat in DIR
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
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMembers = 200;
constexpr size_t kMemberSize = 1 << 20;

void put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(v >> s));
}

// A BIGF pack of 200 members of 1 MiB each, and a new m005.dat of 1 MiB.
void generate(const fs::path& dir) {
  std::mt19937_64 rng(7);
  auto fill = [&](std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
      const uint64_t v = rng();
      for (int k = 0; k < 8; ++k) bytes[i + static_cast<size_t>(k)] = static_cast<uint8_t>(v >> (8 * k));
    }
  };
  size_t header = 16;
  for (int i = 0; i < kMembers; ++i) header += 8 + 8 + 1;  // "m000.dat"
  header = (header + 3) & ~size_t{3};
  std::vector<uint8_t> head{'B', 'I', 'G', 'F'};
  put32(head, static_cast<uint32_t>(header + kMembers * kMemberSize));
  put32(head, kMembers);
  put32(head, static_cast<uint32_t>(header));
  for (int i = 0; i < kMembers; ++i) {
    put32(head, static_cast<uint32_t>(header + static_cast<size_t>(i) * kMemberSize));
    put32(head, kMemberSize);
    char name[16];
    std::snprintf(name, sizeof name, "m%03d.dat", i);
    head.insert(head.end(), name, name + 9);
  }
  head.resize(header, 0);
  std::ofstream pack(dir / "pack.viv", std::ios::binary);
  pack.write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  std::vector<uint8_t> member(kMemberSize);
  for (int i = 0; i < kMembers; ++i) {
    fill(member);
    pack.write(reinterpret_cast<const char*>(member.data()), static_cast<std::streamsize>(member.size()));
  }
  fill(member);
  std::ofstream(dir / "m005.dat", std::ios::binary)
      .write(reinterpret_cast<const char*>(member.data()), static_cast<std::streamsize>(member.size()));
}

struct Run {
  double seconds = 0;
  long peakkib = 0;
  int status = -1;
};

Run run(const std::vector<std::string>& argv, const fs::path& cwd) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::chdir(cwd.c_str()) != 0) ::_exit(127);
    if (!std::freopen("/dev/null", "w", stdout)) ::_exit(127);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  Run r;
  r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  r.peakkib = usage.ru_maxrss;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--generate") {
    fs::create_directories(argv[2]);
    generate(argv[2]);
    return 0;
  }
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  char pattern[] = "/tmp/packwrite-bench.XXXXXX";
  if (!::mkdtemp(pattern)) return 1;
  const fs::path dir = pattern;
  generate(dir);

  std::vector<double> update;
  std::vector<double> copy;
  std::vector<double> synced;
  long peak = 0;
  int failures = 0;
  for (int i = 0; i < runs; ++i) {
    const Run u = run({TORVEX_EXE, "-p", "pack.viv", "m005.dat"}, dir);
    const Run c = run({"cp", "pack.viv", "copy.viv"}, dir);
    const Run s = run({"sh", "-c", "cp pack.viv copy.viv && sync copy.viv"}, dir);
    if (u.status != 0 || c.status != 0 || s.status != 0) ++failures;
    update.push_back(u.seconds);
    copy.push_back(c.seconds);
    synced.push_back(s.seconds);
    peak = std::max(peak, u.peakkib);
  }
  std::error_code ec;
  fs::remove_all(dir, ec);

  std::vector<double> ratios;
  std::vector<double> syncedratios;
  for (size_t i = 0; i < update.size(); ++i) {
    ratios.push_back(update[i] / copy[i]);
    syncedratios.push_back(update[i] / synced[i]);
  }
  std::printf("pack: %d members of %zu bytes (%.1f MiB); %d runs each\n", kMembers, kMemberSize,
              kMembers * static_cast<double>(kMemberSize) / (1 << 20), runs);
  std::printf("torvex -p, one member replaced: median %.3f s\n", median(update));
  std::printf("cp of the pack:                 median %.3f s  (ratio, pairwise median: %.2f)\n", median(copy),
              median(ratios));
  std::printf("cp and sync of the copy:        median %.3f s  (ratio, pairwise median: %.2f)\n", median(synced),
              median(syncedratios));
  std::printf("torvex peak memory:             %ld KiB (new member %zu KiB)\n", peak, kMemberSize / 1024);
  if (failures) std::printf("%d runs failed\n", failures);
  return failures ? 1 : 0;
}
