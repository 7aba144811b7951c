// The real 10 FB encoder: LZ77 over a 128 KiB window.
//
// Which copy is taken at each position is fixed to the byte by the rules of
// the two-byte-key chains this encoder was first written with:
//  - Every position p carries the key d[p] + 256 * d[p + 1]. Positions are
//    entered in increasing order, every one of them, also those inside an
//    accepted copy. A position that continues a run of one byte value (its
//    key equals the key before it) joins the run's entry instead of opening
//    one, until the entry stands for 0xFFFF positions.
//  - Entries of a key are counted from 0; the one counted 31, 63, 95 ...
//    (index 31 of its node of 32) is never a candidate, nor is the newest
//    entry of the key at the time of the search (the one that holds `cur`).
//  - Of the other entries with the same key inside the window, the one whose
//    bytes agree longest with those at `cur` wins, the newest among equals,
//    the length counted up to 1028 and never to the last byte of the data.
// So the choice depends on the data alone, and any structure that finds the
// same entry gives the same output. This one looks only where a winner can
// be:
//  - Keys of two different bytes: hash chains of the entries with the same
//    four and the same six bytes. The newest entry with the same four bytes
//    tells whether there is a match of four at all; then the six-byte chain
//    is walked if it has an entry, else the four-byte one for a match of
//    five. Three-byte matches are looked for only where they can be taken,
//    within 1024 bytes, and only the newest counts.
//  - Keys of one byte value twice (runs): an entry of such a key agrees with
//    `cur` on the shorter of the two runs, and beyond that only when both
//    runs have the same length. So these entries are kept by byte value and
//    run length: the newest entry of each length, a chain through the
//    entries of the same length, and hash chains by byte value, run length
//    and the one or four bytes after the run.
// Walks cost what their fetches that wait for each other cost, so a step
// is one load (links hold positions, not distances to decode) and the first
// records a search needs are asked for a few positions ahead.
//
// Everything lives for one call and is window-sized: rings indexed by
// position modulo 128 Ki and tables sized by the data up to 64 KiB, 4.0 MB
// from then on, plus 4.3 KB for each byte value that starts runs (5.1 MB
// at most, whatever the size of the data). Chains hold positions plus one,
// so that a zero-filled table means "none" and a walk ends at a value not
// above the window's lower bound. No state is kept between calls.
#include "encode.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace torvex {

namespace {

constexpr int32_t kWindow = 131072;
constexpr int32_t kMaxMatch = 1028;
constexpr int32_t kMaxRunEntry = 0xFFFF;  // positions one entry may stand for
constexpr int32_t kProgressStep = 10000;
constexpr int32_t kMaxSize = 0xFFFFFF;
constexpr int32_t kNear = 1024;  // the farthest a three-byte copy may reach

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

inline uint32_t load32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

// How many bytes from `from` on agree at a and b, up to `cap`.
inline int32_t matchlength(const uint8_t* a, const uint8_t* b, int32_t from, int32_t cap) {
  int32_t m = from;
  if constexpr (std::endian::native == std::endian::little) {
    while (m + 8 <= cap) {
      const uint64_t x = load64(a + m) ^ load64(b + m);
      if (x) return m + std::countr_zero(x) / 8;
      m += 8;
    }
  }
  while (m < cap && a[m] == b[m]) ++m;
  return m;
}

// Hash table sizes (bits) by the size of the window's rings (bits): the
// four-byte table is large, so that a walk through other keys' entries is
// short; the six-byte and run tables are only reached through an entry
// found. The three-byte table serves 1024 positions.
constexpr int bits4(int ring) { return ring + 1; }
constexpr int bits6(int ring) { return std::max(10, ring - 1); }
constexpr int bitstail(int ring) { return std::max(10, ring - 3); }
constexpr int kBits3 = 12;
constexpr uint32_t hashslot(uint64_t key, int bits) {
  return static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - bits));
}

// Run lengths are told apart up to kLongRun; longer runs all count as
// kLongRun, which is more than any match can use.
constexpr int32_t kLongRun = kMaxMatch + 1;
constexpr int32_t kRunBlock = 32;
constexpr int32_t kRunBlocks = kLongRun / kRunBlock + 1;

// The run entries of one byte value.
struct RunRow {
  int32_t newest[kLongRun + 1];     // by run length
  int32_t blocknewest[kRunBlocks];  // the newest of each block of 32 lengths
  int32_t last;                     // the newest of all
  int32_t beforelast;               // and the one before it
};

// Keys of run entries: the byte, the run length, and what follows the run
// (one byte, or four).
inline uint64_t tailkey(uint8_t c, int32_t length, uint32_t next) {
  return c | (static_cast<uint64_t>(length) << 8) | (static_cast<uint64_t>(next) << 24);
}

// The links of a chain: for each position of the window, the next older
// entry of its chain (a position plus one, 0 for none). A walk step is one
// load and nothing to decode: walks are chains of loads that wait for each
// other, so each step's own work is what they cost.
struct Links {
  uint32_t* ring;
  uint32_t mask;

  // The entry after e (a position plus one) on its chain, or 0.
  int32_t next(int32_t e) const { return static_cast<int32_t>(ring[static_cast<uint32_t>(e - 1) & mask]); }
  // Puts p behind the entry e (an entry out of reach of every later
  // search counts as none).
  void link(int32_t p, int32_t e) {
    ring[static_cast<uint32_t>(p) & mask] = e > 0 && p + 1 - e < kWindow ? static_cast<uint32_t>(e) : 0;
  }
};

constexpr int32_t kAhead = 8;  // how far ahead table records are asked for

int ceillog2(int32_t n) { return n <= 1 ? 0 : 32 - std::countl_zero(static_cast<uint32_t>(n - 1)); }

class Encoder {
 public:
  Encoder(std::span<const uint8_t> data, uint8_t* out, const FbProgressFn& progress);
  int32_t run();

 private:
  // The eight bytes at q, zeros past the end of the data.
  uint64_t at(int32_t q) const { return q <= safe_ ? load64(d_ + q) : load64(tail_ + (q - tailstart_)); }
  bool openrun(int32_t p);
  void publish(int32_t p);
  void enterrange(int32_t from, int32_t to);
  int32_t runlength(int32_t p) const;
  int32_t searchrun(int32_t cur, int32_t lower, int32_t cap, int32_t& bestpos);
  int32_t climb(int32_t cur, uint64_t v, uint32_t slot6, int32_t lower, int32_t cap, int32_t p,
                int32_t& bestpos) const;
  int32_t walk(const Links& links, int32_t e, int32_t cur, int32_t lower, int32_t best, int32_t limit,
               int32_t& bestpos) const;
  void progress(int32_t cur);
  int32_t literals(int32_t from, int32_t count);
  void emitcopy(int32_t from, int32_t pending, int32_t distance, int32_t length);

  const uint8_t* d_;
  int32_t total_;
  int32_t safe_;           // the last position with eight bytes to read
  int32_t tailstart_;      // where tail_ begins in the data
  uint8_t tail_[16] = {};  // the last eight bytes (or fewer), then zeros
  uint8_t* out_;
  uint8_t* o_;
  const FbProgressFn& progress_;
  int32_t threshold_ = -1;

  // One block holds the tables and rings (see the constructor).
  MemPtr<int32_t> arena_;
  int32_t* head4_;     // four-byte hashes
  int32_t* head6_;     // six-byte hashes
  int32_t* head3_;     // three-byte hashes
  int32_t* headtail_;  // runs by byte, length and the byte after
  int32_t* headtail4_; // runs by byte, length and the four bytes after
  Links prev4_;
  Links prev6_;
  int32_t* prev3_;     // a ring of kNear positions
  Links prevtail_;
  Links prevtail4_;
  Links runprev_;      // the next older run entry of the same byte and length
  uint8_t* counts_;    // entries opened so far per two-byte key (modulo 256)
  int bits4_;
  int bits6_;
  int bitstail_;

  int32_t runstart_ = -1;  // where the entry of the current run began
  // Runs: a row for each byte value once it has an entry. An entry is
  // published when it is entered, or after the search at its position.
  MemPtr<RunRow> rowblock_;    // taken whole at the first run entry: one
  RunRow* rows_[256] = {};      // block is made present faster than many
  int32_t runentry_ = -1;  // the entry of the current run, if it can be a candidate
  int32_t runentrylength_ = 0;
  int32_t held_ = -1;      // the published entry the position being searched continues
  // The bytes from runfrom_ to runupto_ are one value (runclosed_: and
  // the run ends there), as the last run search counted them.
  int32_t runfrom_ = 0;
  int32_t runupto_ = 0;
  bool runclosed_ = false;
};

Encoder::Encoder(std::span<const uint8_t> data, uint8_t* out, const FbProgressFn& progress)
    : d_(data.data()), total_(static_cast<int32_t>(data.size())), safe_(total_ - 8),
      tailstart_(std::max(0, total_ - 8)), out_(out), o_(out), progress_(progress) {
  if (total_ > 0) std::memcpy(tail_, d_ + tailstart_, static_cast<size_t>(total_ - tailstart_));
  // The rings are window-sized, and no larger than the data needs.
  const int ringbits = std::clamp(ceillog2(total_), 10, 17);
  const int32_t ring = int32_t{1} << ringbits;
  bits4_ = bits4(ringbits);
  bits6_ = bits6(ringbits);
  bitstail_ = bitstail(ringbits);
  const int32_t words = (1 << bits4_) + (1 << bits6_) + (1 << kBits3) + 2 * (1 << bitstail_) + kNear + 65536 / 4 +
                        5 * ring;
  arena_.reset(static_cast<int32_t*>(allocmem(words * static_cast<int32_t>(sizeof(int32_t)))));
  int32_t* at = arena_.get();
  auto take = [&](int32_t n) {
    int32_t* const part = at;
    at += n;
    return part;
  };
  head4_ = take(1 << bits4_);
  head6_ = take(1 << bits6_);
  head3_ = take(1 << kBits3);
  headtail_ = take(1 << bitstail_);
  headtail4_ = take(1 << bitstail_);
  prev3_ = take(kNear);
  counts_ = reinterpret_cast<uint8_t*>(take(65536 / 4));
  for (Links* links : {&prev4_, &prev6_, &prevtail_, &prevtail4_, &runprev_}) {
    links->ring = reinterpret_cast<uint32_t*>(take(ring));
    links->mask = static_cast<uint32_t>(ring - 1);
  }
}

// Opens the run entry at p (its key is one byte value twice and it does not
// continue the run before it); true when it can be a candidate later.
inline bool Encoder::openrun(int32_t p) {
  runstart_ = p;
  runentry_ = (counts_[d_[p] * 257]++ & 31) != 31 ? p : -1;
  return runentry_ >= 0;
}

// Positions from .. to - 1 (none of them searched) enter the
// bookkeeping and the chains. The hot loop of data with long copies, so its
// state lives in locals.
void Encoder::enterrange(int32_t from, int32_t to) {
  const uint8_t* const d = d_;
  uint8_t* const counts = counts_;
  int32_t* const head4 = head4_;
  int32_t* const head6 = head6_;
  int32_t* const head3 = head3_;
  Links prev4 = prev4_;
  Links prev6 = prev6_;
  int32_t* const prev3 = prev3_;
  const int32_t safe = safe_;
  const int b4 = bits4_;
  const int b6 = bits6_;
  for (int32_t p = from; p < to; ++p) {
    const uint8_t a = d[p];
    const uint8_t b = d[p + 1];
    if (p + 2 * kAhead <= safe) {
      const uint64_t soon = load64(d + p + 2 * kAhead);
      __builtin_prefetch(&head4[hashslot(soon << 32, b4)]);
      __builtin_prefetch(&head6[hashslot(soon << 16, b6)]);
    }
    if (a != b) {
      if ((counts[a | (b << 8)]++ & 31) == 31) continue;
      const uint64_t v = p <= safe ? load64(d + p) : at(p);
      int32_t& h4 = head4[hashslot(v << 32, b4)];
      int32_t& h6 = head6[hashslot(v << 16, b6)];
      int32_t& h3 = head3[hashslot(v << 40, kBits3)];
      prev4.link(p, h4);
      prev6.link(p, h6);
      prev3[p & (kNear - 1)] = h3;
      h4 = h6 = h3 = p + 1;
    } else if (p == 0 || d[p - 1] != a || p - runstart_ >= kMaxRunEntry) {
      if (openrun(p)) publish(p);
    }
  }
}

// How many bytes from p on equal the byte at p, up to kLongRun.
inline int32_t Encoder::runlength(int32_t p) const {
  const int32_t cap = std::min(kLongRun, total_ - p);
  const uint64_t fill = d_[p] * 0x0101010101010101ull;
  int32_t n = 0;
  if constexpr (std::endian::native == std::endian::little) {
    while (n + 8 <= cap) {
      const uint64_t x = load64(d_ + p + n) ^ fill;
      if (x) return n + std::countr_zero(x) / 8;
      n += 8;
    }
  }
  while (n < cap && d_[p + n] == d_[p]) ++n;
  return n;
}

void Encoder::publish(int32_t p) {
  const uint8_t c = d_[p];
  if (!rowblock_) rowblock_.reset(static_cast<RunRow*>(allocmem(256 * static_cast<int32_t>(sizeof(RunRow)))));
  if (!rows_[c]) rows_[c] = rowblock_.get() + c;
  RunRow& row = *rows_[c];
  const int32_t l = runlength(p);
  runprev_.link(p, row.newest[l]);
  row.newest[l] = p + 1;
  row.blocknewest[l / kRunBlock] = p + 1;
  row.beforelast = row.last;
  row.last = p + 1;
  runentrylength_ = l;
  if (l < kLongRun && p + l < total_) {
    int32_t& h = headtail_[hashslot(tailkey(c, l, d_[p + l]), bitstail_)];
    prevtail_.link(p, h);
    h = p + 1;
    if (p + l + 4 <= total_) {
      int32_t& h4 = headtail4_[hashslot(tailkey(c, l, load32(d_ + p + l)), bitstail_)];
      prevtail4_.link(p, h4);
      h4 = p + 1;
    }
  }
}

// From the entry e (a position plus one) on along `prev`, the newest entry
// agreeing with `cur` on more than `best` bytes, and on the most; no
// candidate can agree on more than `limit`.
inline int32_t Encoder::walk(const Links& links, int32_t e, int32_t cur, int32_t lower, int32_t best, int32_t limit,
                             int32_t& bestpos) const {
  const uint8_t* const here = d_ + cur;
  for (; e > lower; e = links.next(e)) {
    const uint8_t* const there = d_ + e - 1;
    if (there[best] != here[best]) continue;  // cannot be longer
    const int32_t m = matchlength(there, here, 0, limit);
    if (m > best) {
      best = m;
      bestpos = e - 1;
      if (m >= limit) break;
    }
  }
  return best;
}

// A key of one byte value c twice: every candidate is the start of a run of
// c, and agrees with `cur` on the shorter of the two runs, or beyond when
// the runs are equally long.
int32_t Encoder::searchrun(int32_t cur, int32_t lower, int32_t cap, int32_t& bestpos) {
  const RunRow* const row = rows_[d_[cur]];
  // The entry `cur` continues, when there is one, is the newest: a long run
  // seen for the first time is searched at every position, and quickly.
  if (!row || (held_ >= 0 ? row->beforelast : row->last) <= lower) return 0;
  // The newest entry of each run length, but for the entry `cur` continues
  // (always the newest of its length): the one before it.
  const int32_t heldlength = held_ >= 0 ? runentrylength_ : -1;
  auto newest = [&](int32_t l) { return l == heldlength ? runprev_.next(held_ + 1) : row->newest[l]; };
  // The newest entry with a run of `from` or more.
  auto newestfrom = [&](int32_t from) {
    int32_t best = 0;
    const int32_t block = from / kRunBlock;
    for (int32_t l = from; l <= std::min(kLongRun, block * kRunBlock + kRunBlock - 1); ++l)
      best = std::max(best, newest(l));
    for (int32_t b = block + 1; b < kRunBlocks; ++b) {
      if (heldlength >= 0 && b == heldlength / kRunBlock) {
        for (int32_t l = b * kRunBlock; l <= std::min(kLongRun, b * kRunBlock + kRunBlock - 1); ++l)
          best = std::max(best, newest(l));
      } else {
        best = std::max(best, row->blocknewest[b]);
      }
    }
    return best - 1;
  };
  // The longest run below `below` with an entry inside the window (0 for
  // none); a block whose newest entry is out of the window is passed whole.
  auto longestbelow = [&](int32_t below) {
    int32_t l = below - 1;
    while (l >= 2) {
      if (l % kRunBlock == kRunBlock - 1 && row->blocknewest[l / kRunBlock] <= lower) {
        l -= kRunBlock;
        continue;
      }
      if (newest(l) > lower) return l;
      --l;
    }
    return 0;
  };
  // The length of the run from `cur`, counted on from where the last run
  // search inside the same run stopped counting.
  if (cur < runfrom_ || cur >= runupto_ || d_[cur] != d_[runfrom_]) {
    runfrom_ = runupto_ = cur;
    runclosed_ = false;
  }
  while (!runclosed_ && runupto_ - cur < kLongRun) {
    if (runupto_ < total_ && d_[runupto_] == d_[cur])
      ++runupto_;
    else
      runclosed_ = true;
  }
  const int32_t len = std::min(runupto_ - cur, kLongRun);
  if (len < cap) {
    // Entries with a run of the same length and the same byte after it agree
    // beyond the run (the entry `cur` continues has a longer run): the
    // newest of them, then the chain of those that agree on four bytes
    // after the run, as the chains of other keys are climbed.
    const uint8_t* const here = d_ + cur;
    auto firstmember = [&](const Links& links, int32_t e, int32_t agree) {
      while (e > lower && matchlength(d_ + e - 1, here, 0, agree) < agree) e = links.next(e);
      return e > lower ? e - 1 : -1;
    };
    const int32_t p = firstmember(prevtail_, headtail_[hashslot(tailkey(here[0], len, here[len]), bitstail_)], len + 1);
    if (p >= 0) {
      const int32_t best = matchlength(d_ + p, here, len + 1, cap);
      bestpos = p;
      if (best >= cap) return best;
      if (len + 4 > cap) return walk(prevtail_, prevtail_.next(p + 1), cur, lower, best, cap, bestpos);
      if (best >= len + 4) return walk(prevtail4_, prevtail4_.next(p + 1), cur, lower, best, cap, bestpos);
      const int32_t q =
          firstmember(prevtail4_, headtail4_[hashslot(tailkey(here[0], len, load32(here + len)), bitstail_)], len + 4);
      if (q < 0) return walk(prevtail_, prevtail_.next(p + 1), cur, lower, best, len + 3, bestpos);
      bestpos = q;
      return walk(prevtail4_, prevtail4_.next(q + 1), cur, lower, matchlength(d_ + q, here, len + 4, cap), cap,
                  bestpos);
    }
  }
  const int32_t reach = std::min(len, cap);
  if (const int32_t p = newestfrom(reach); p >= lower) {
    bestpos = p;
    return reach;
  }
  if (const int32_t l = longestbelow(reach)) {
    bestpos = newest(l) - 1;
    return l;
  }
  return 0;
}

// A key of two different bytes, and p the newest entry agreeing with `cur`
// on four bytes: the longest (newest among equals) of all such entries.
int32_t Encoder::climb(int32_t cur, uint64_t v, uint32_t slot6, int32_t lower, int32_t cap, int32_t p,
                       int32_t& bestpos) const {
  const uint8_t* const here = d_ + cur;
  const int32_t best = matchlength(d_ + p, here, 4, cap);
  bestpos = p;
  if (best >= cap) return best;
  // p is also the newest entry agreeing on six bytes, if it does.
  if (best >= 6) return walk(prev6_, prev6_.next(p + 1), cur, lower, best, cap, bestpos);
  if (cap >= 6) {
    int32_t e = head6_[slot6];
    while (e > lower && ((at(e - 1) ^ v) << 16) != 0) e = prev6_.next(e);
    if (e > lower) {
      bestpos = e - 1;
      return walk(prev6_, prev6_.next(e), cur, lower, matchlength(d_ + e - 1, here, 6, cap), cap,
                  bestpos);
    }
  }
  return walk(prev4_, prev4_.next(p + 1), cur, lower, best, std::min(cap, 5), bestpos);
}

void Encoder::progress(int32_t cur) {
  if (progress_) progress_({cur, total_, static_cast<int32_t>(o_ - out_)});
  threshold_ += kProgressStep;
}

// Literal runs of 112 bytes, then one of the largest multiple of 4 that is
// left; returns how many of the `count` bytes are still pending (0-3), for
// the command that follows.
int32_t Encoder::literals(int32_t from, int32_t count) {
  while (count > 112) {
    *o_++ = 0xFB;
    std::memcpy(o_, d_ + from, 112);
    o_ += 112;
    from += 112;
    count -= 112;
  }
  if (count > 3) {
    const int32_t n = count / 4 * 4;
    *o_++ = static_cast<uint8_t>(0xE0 | (count / 4 - 1));
    std::memcpy(o_, d_ + from, static_cast<size_t>(n));
    o_ += n;
    count -= n;
  }
  return count;
}

// The search keeps every copy inside the window and below 1029 bytes, so one
// of the three forms always holds it.
void Encoder::emitcopy(int32_t from, int32_t pending, int32_t distance, int32_t length) {
  const int32_t n = literals(from, pending);
  const uint32_t d = static_cast<uint32_t>(distance - 1);
  const uint32_t l = static_cast<uint32_t>(length);
  if (d <= 1023 && l <= 10) {
    *o_++ = static_cast<uint8_t>(((d >> 8) << 5) + ((l - 3) << 2) + n);
    *o_++ = static_cast<uint8_t>(d);
  } else if (d <= 16383 && l <= 67) {
    *o_++ = static_cast<uint8_t>(0x80 + (l - 4));
    *o_++ = static_cast<uint8_t>((n << 6) + (d >> 8));
    *o_++ = static_cast<uint8_t>(d);
  } else {
    *o_++ = static_cast<uint8_t>(0xC0 + ((d >> 16) << 4) + (((l - 5) >> 8) << 2) + n);
    *o_++ = static_cast<uint8_t>(d >> 8);
    *o_++ = static_cast<uint8_t>(d);
    *o_++ = static_cast<uint8_t>(l - 5);
  }
  const int32_t at = from + pending - n;
  for (int32_t i = 0; i < n; ++i) *o_++ = d_[at + i];
}

// A match is taken when the command form that could carry it pays off.
inline bool acceptable(int32_t length, int32_t distance) {
  return (length >= 3 && distance <= 1024) || (length >= 4 && distance <= 16384) ||
         (length >= 5 && distance <= kWindow);
}

int32_t Encoder::run() {
  *o_++ = 0x10;
  *o_++ = 0xFB;
  *o_++ = static_cast<uint8_t>(total_ >> 16);
  *o_++ = static_cast<uint8_t>(total_ >> 8);
  *o_++ = static_cast<uint8_t>(total_);
  int32_t pending = 0;  // where the literals not yet written begin
  if (total_ > 0 && total_ <= 4) {
    // One visit of position 1, which cannot find anything in so little data.
    progress(1);
  } else if (total_ > 4) {
    // Position by position, a search and then the position's own entry; the
    // state of this loop lives in locals.
    const uint8_t* const d = d_;
    uint8_t* const counts = counts_;
    int32_t* const head4 = head4_;
    int32_t* const head6 = head6_;
    int32_t* const head3 = head3_;
    Links prev4 = prev4_;
    Links prev6 = prev6_;
    int32_t* const prev3 = prev3_;
    const int32_t last = total_ - 3;  // positions below it are searched
    const int b4 = bits4_;
    const int b6 = bits6_;
    enterrange(0, 1);
    int32_t cur = 1;
    do {
      if (cur > threshold_) progress(cur);
      // Ask for the records the search a few positions on will start with.
      if (cur + kAhead < last) {
        const uint64_t soon = at(cur + kAhead);
        __builtin_prefetch(&head4[hashslot(soon << 32, b4)]);
        __builtin_prefetch(&head6[hashslot(soon << 16, b6)]);
      }
      const uint8_t a = d[cur];
      const uint8_t b = d[cur + 1];
      const int32_t lower = std::max(0, cur - kWindow);
      const int32_t cap = std::min(total_ - 1 - cur, kMaxMatch);  // at least 3
      int32_t found = 0;
      int32_t length = 0;
      if (a != b) {
        const bool candidate = (counts[a | (b << 8)]++ & 31) != 31;
        const uint64_t v = at(cur);
        const uint32_t slot4 = hashslot(v << 32, b4);
        const uint32_t slot6 = hashslot(v << 16, b6);
        const uint32_t slot3 = hashslot(v << 40, kBits3);
        int32_t e = 0;
        if (cap >= 4) {
          // The newest entry with the same four bytes, if any.
          e = head4[slot4];
          while (e > lower && static_cast<uint32_t>(at(e - 1) ^ v) != 0) e = prev4.next(e);
        }
        if (e > lower) {
          length = climb(cur, v, slot6, lower, cap, e - 1, found);
        } else {
          // Three bytes: only the newest such entry counts, and only if it
          // is near.
          const int32_t nearest = std::max(0, cur - kNear);
          for (int32_t f = head3[slot3]; f > nearest; f = prev3[(f - 1) & (kNear - 1)]) {
            if (((at(f - 1) ^ v) << 40) == 0) {
              found = f - 1;
              length = 3;
              break;
            }
          }
        }
        if (candidate) {
          prev4.link(cur, head4[slot4]);
          prev6.link(cur, head6[slot6]);
          prev3[cur & (kNear - 1)] = head3[slot3];
          head4[slot4] = head6[slot6] = head3[slot3] = cur + 1;
        }
      } else {
        held_ = -1;
        bool publishable = false;
        if (d[cur - 1] == a && cur - runstart_ < kMaxRunEntry)
          held_ = runentry_;  // the run goes on
        else
          publishable = openrun(cur);
        length = searchrun(cur, lower, cap, found);
        if (publishable) publish(cur);
      }
      if (length > 0 && acceptable(length, cur - found)) {
        emitcopy(pending, cur - pending, cur - found, length);
        enterrange(cur + 1, cur + length);
        cur += length;
        pending = cur;
      } else {
        ++cur;
      }
    } while (cur < last);
  }
  const int32_t r = literals(pending, total_ - pending);
  *o_++ = static_cast<uint8_t>(0xFC | r);
  for (int32_t i = total_ - r; i < total_; ++i) *o_++ = d_[i];
  return static_cast<int32_t>(o_ - out_);
}

}  // namespace

int32_t fbencode(std::span<const uint8_t> data, uint8_t* out, const FbProgressFn& progress) {
  if (data.size() > static_cast<size_t>(kMaxSize)) return -1;
  Encoder encoder(data, out, progress);
  return encoder.run();
}

}  // namespace torvex
