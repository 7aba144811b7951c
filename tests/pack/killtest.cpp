// Kills torvex with SIGKILL while it rewrites a pack of some tens of
// megabytes (once its temporary file exists: at once, or at a random moment
// later), and checks after each kill that the pack path holds either the
// complete old pack or the complete new one, member by member, read by the
// layout table rather than by the program's reader. A kill that left the
// temporary file behind landed before the rename: the pack must be the old
// one then, and enough kills must land so to prove anything.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include "support.h"
#include "writerfixtures.h"

extern char** environ;

namespace torvex {
namespace {

using packtest::Bytes;
using packtest::Member;
using test::TempDir;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

pid_t starttorvex(const std::vector<std::string>& args, const fs::path& cwd) {
  std::vector<std::string> argv{test::torvexexe().string()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> raw;
  for (auto& a : argv) raw.push_back(a.data());
  raw.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, raw[0], &actions, nullptr, raw.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

std::vector<Member> generated(uint32_t salt) {
  std::mt19937 rng(salt);
  std::vector<Member> members;
  for (int i = 0; i < 24; ++i) {
    Member m;
    m.name = "m";  // appended piecewise: GCC 12 -O3 warns falsely about "m" + string
    m.name += std::to_string(i);
    m.name += ".dat";
    m.bytes.assign(1000000 + rng() % 400000, 0);
    uint32_t x = rng() | 1;  // xorshift: fast enough under the sanitizers
    for (auto& b : m.bytes) {
      x ^= x << 13;
      x ^= x >> 17;
      x ^= x << 5;
      b = static_cast<uint8_t>(x);
    }
    members.push_back(std::move(m));
  }
  return members;
}

TEST(KillTest, ThePackIsAlwaysTheOldOrTheNewOne) {
  TempDir dir;
  const std::vector<Member> old = generated(1);
  const Bytes oldpack = packtest::bigfpack(old);
  Member replacement{"m5.dat", Bytes(1500000)};
  for (size_t i = 0; i < replacement.bytes.size(); ++i) replacement.bytes[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::mt19937 rng(2);
  test::writebytes(dir / "m5.dat", replacement.bytes);
  std::vector<Member> renewed = old;
  renewed[5] = replacement;
  const std::vector<std::string> args{"-p", "pack.viv", "m5.dat"};

  // One run to its end: how long a rewrite takes, and that it is the new pack.
  test::writebytes(dir / "pack.viv", oldpack);
  const auto start = Clock::now();
  const auto full = test::runtorvex(args, dir.path());
  const auto duration = Clock::now() - start;
  ASSERT_EQ(full.status, 0) << full.out;
  ASSERT_EQ(packtest::bigfmembers(packtest::readfile(dir / "pack.viv")), renewed);

  // Each kill waits until the temporary file exists, so that it lands while
  // the new pack is being written (at once, or some way into the rewrite),
  // not before the program has begun or after it is done.
  int sawold = 0;
  int sawnew = 0;
  int midrewrite = 0;  // kills after which the temporary file was still there
  const auto span = std::chrono::duration_cast<std::chrono::microseconds>(duration).count();
  for (int kill = 0; kill < 20; ++kill) {
    SCOPED_TRACE(kill);
    test::writebytes(dir / "pack.viv", oldpack);
    const pid_t pid = starttorvex(args, dir.path());
    ASSERT_GT(pid, 0);
    int status = 0;
    bool ended = false;
    const auto waited = Clock::now();
    while (!fs::exists(dir / "pack.tmp")) {
      if (::waitpid(pid, &status, WNOHANG) == pid) {
        ended = true;
        break;
      }
      ASSERT_LT(Clock::now() - waited, std::chrono::seconds(60)) << "no temporary file appeared";
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
    ASSERT_FALSE(ended) << "the rewrite ended before its temporary file was seen";
    if (kill % 2 == 1) std::this_thread::sleep_for(std::chrono::microseconds(rng() % static_cast<uint32_t>(span + 1)));
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    const bool temporaryleft = fs::exists(dir / "pack.tmp");

    const auto members = packtest::bigfmembers(packtest::readfile(dir / "pack.viv"));
    ASSERT_TRUE(members) << "the pack path holds no whole BIGF pack";
    if (*members == old)
      ++sawold;
    else if (*members == renewed)
      ++sawnew;
    else
      FAIL() << "the pack is neither the old nor the new one";
    if (temporaryleft) {
      // Killed before the rename: the pack must be the old one.
      ++midrewrite;
      EXPECT_EQ(*members, old);
    }
    // A killed run may leave its temporary file; the next run must not need it gone.
    for (const auto& name : packtest::filesin(dir.path()))
      if (name != "pack.viv" && name != "m5.dat") fs::remove(dir / name);
  }
  std::printf("kills during the rewrite: %d; the pack was then the old one %d times, the new one %d times\n",
              midrewrite, sawold, sawnew);
  // Without kills that land mid-rewrite the test would prove nothing.
  EXPECT_GE(midrewrite, 5);
}

}  // namespace
}  // namespace torvex
