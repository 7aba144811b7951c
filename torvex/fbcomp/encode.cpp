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
//    eight and the same four bytes. The eight-byte chain is walked when the
//    four-byte one has an entry at all; the four-byte one when the eight-byte
//    one has nothing. Three-byte matches are looked for only where they can
//    be taken, within 1024 bytes, and only the newest counts.
//  - Keys of one byte value twice (runs): an entry of such a key agrees with
//    `cur` on the shorter of the two runs, and beyond that only when both
//    runs have the same length. So these entries are kept by byte value and
//    run length: the newest entry of each length, a chain through the
//    entries of the same length, and hash chains by byte value, run length
//    and the byte after the run.
// Everything is window-sized: rings indexed by position modulo 128 Ki and
// tables of fixed size, about 3 MiB in all, plus 4 KiB per byte value that
// starts runs.
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

// Hash slots. The chains hold positions plus one, so that a zero-filled
// table means "none" and a walk ends where the value is not above the
// window's lower bound.
constexpr int kBits8 = 16;
constexpr int kBits4 = 16;
constexpr int kBits3 = 12;
constexpr int kBitsTail = 14;
constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
inline uint32_t hashslot(uint64_t key, int bits) { return static_cast<uint32_t>((key * kMultiplier) >> (64 - bits)); }

// Run lengths are told apart up to kLongRun; longer runs all count as
// kLongRun, which is more than any match can use.
constexpr int32_t kLongRun = kMaxMatch + 1;
constexpr int32_t kRunBlock = 32;
constexpr int32_t kRunBlocks = kLongRun / kRunBlock + 1;

// The run entries of one byte value, positions plus one.
struct RunRow {
  int32_t newest[kLongRun + 1];     // by run length
  int32_t blocknewest[kRunBlocks];  // the newest of each block of 32 lengths
};

// What opening the position being searched asks for after the search.
enum class Opened { kNothing, kLink, kPublish };

class Encoder {
 public:
  Encoder(std::span<const uint8_t> data, uint8_t* out, const FbProgressFn& progress);
  int32_t run();

 private:
  // The key material at q: eight bytes, zeros past the end of the data.
  uint64_t at(int32_t q) const {
    if (q + 8 <= total_) return load64(d_ + q);
    uint8_t b[8] = {};
    std::memcpy(b, d_ + q, static_cast<size_t>(total_ - q));
    return load64(b);
  }
  Opened open(int32_t p);
  void link(int32_t p);
  bool openrun(int32_t p);
  void publish(int32_t p);
  void settle(int32_t p, Opened opened) {
    if (opened == Opened::kLink) link(p);
    if (opened == Opened::kPublish) publish(p);
  }
  void enterrange(int32_t from, int32_t to);
  int32_t runlength(int32_t p) const;
  int32_t search(int32_t cur, int32_t& bestpos) const;
  int32_t searchrun(int32_t cur, int32_t lower, int32_t cap, int32_t& bestpos) const;
  int32_t walk(const int32_t* prev, int32_t e, int32_t cur, int32_t lower, int32_t best, int32_t limit,
               int32_t& bestpos) const;
  void progress(int32_t cur);
  int32_t literals(int32_t from, int32_t count);
  void emitcopy(int32_t from, int32_t pending, int32_t distance, int32_t length);

  const uint8_t* d_;
  int32_t total_;
  uint8_t* out_;
  uint8_t* o_;
  const FbProgressFn& progress_;
  int32_t threshold_ = -1;

  // One block holds the tables and rings (see the constructor).
  MemPtr<int32_t> arena_;
  int32_t* head8_;     // eight-byte hashes
  int32_t* head4_;     // four-byte hashes
  int32_t* head3_;     // three-byte hashes
  int32_t* headtail_;  // runs by byte, length and the byte after
  int32_t* prev8_;
  int32_t* prev4_;
  int32_t* prev3_;     // a ring of kNear positions
  int32_t* prevtail_;
  int32_t* runprev_;   // the next older run entry of the same byte and length
  uint16_t* counts_;   // entries opened so far per two-byte key (modulo 2^16)
  int32_t mask_;       // of the window-sized rings

  int32_t runstart_ = -1;  // where the entry of the current run began
  // Runs: a row for each byte value once it has an entry. An entry is
  // published when it is entered, or after the search at its position.
  MemPtr<RunRow> rows_[256];
  int32_t runentry_ = -1;  // the entry of the current run, if it can be a candidate
  int32_t runentrylength_ = 0;
  int32_t held_ = -1;      // the published entry the position being searched continues
};

int ceillog2(int32_t n) { return n <= 1 ? 0 : 32 - std::countl_zero(static_cast<uint32_t>(n - 1)); }

Encoder::Encoder(std::span<const uint8_t> data, uint8_t* out, const FbProgressFn& progress)
    : d_(data.data()), total_(static_cast<int32_t>(data.size())), out_(out), o_(out), progress_(progress) {
  // The rings are window-sized, and no larger than the data needs.
  const int32_t ring = int32_t{1} << std::clamp(ceillog2(total_), 10, 17);
  const int32_t words[] = {1 << kBits8, 1 << kBits4, 1 << kBits3, 1 << kBitsTail, ring, ring, kNear, ring, ring,
                           65536 / 2};
  int32_t total = 0;
  for (const int32_t w : words) total += w;
  arena_.reset(static_cast<int32_t*>(allocmem(total * static_cast<int32_t>(sizeof(int32_t)))));
  int32_t* at = arena_.get();
  int32_t** const parts[] = {&head8_, &head4_, &head3_, &headtail_, &prev8_, &prev4_, &prev3_, &prevtail_, &runprev_};
  for (size_t i = 0; i < std::size(parts); ++i) {
    *parts[i] = at;
    at += words[i];
  }
  counts_ = reinterpret_cast<uint16_t*>(at);
  mask_ = ring - 1;
}

// Opens the run entry at p (its key is one byte value twice and it does not
// continue the run before it); true when it can be a candidate later.
inline bool Encoder::openrun(int32_t p) {
  runstart_ = p;
  runentry_ = (counts_[d_[p] * 257]++ & 31) != 31 ? p : -1;
  return runentry_ >= 0;
}

// Opens the position being searched: whether it is an entry that can be a
// candidate later, of a key of two different bytes (to be linked into the
// chains) or of a run (to be published), once the search is done.
Opened Encoder::open(int32_t p) {
  const uint8_t a = d_[p];
  const uint8_t b = d_[p + 1];
  held_ = -1;
  if (a != b) return (counts_[a | (b << 8)]++ & 31) != 31 ? Opened::kLink : Opened::kNothing;
  if (p > 0 && d_[p - 1] == a && p - runstart_ < kMaxRunEntry) {  // the run goes on
    held_ = runentry_;
    return Opened::kNothing;
  }
  return openrun(p) ? Opened::kPublish : Opened::kNothing;
}

inline void Encoder::link(int32_t p) {
  const uint64_t v = at(p);
  int32_t* const __restrict h8 = &head8_[hashslot(v, kBits8)];
  int32_t* const __restrict h4 = &head4_[hashslot(v << 32, kBits4)];
  int32_t* const __restrict h3 = &head3_[hashslot(v << 40, kBits3)];
  prev8_[p & mask_] = *h8;
  prev4_[p & mask_] = *h4;
  prev3_[p & (kNear - 1)] = *h3;
  *h8 = *h4 = *h3 = p + 1;
}

// Positions from .. to - 1 (none of them searched, `from` above 0) enter the
// bookkeeping and the chains. The hot loop of data with long copies, so its
// state lives in locals.
void Encoder::enterrange(int32_t from, int32_t to) {
  const uint8_t* const d = d_;
  uint16_t* const counts = counts_;
  int32_t* const __restrict head8 = head8_;
  int32_t* const __restrict head4 = head4_;
  int32_t* const __restrict head3 = head3_;
  int32_t* const __restrict prev8 = prev8_;
  int32_t* const __restrict prev4 = prev4_;
  int32_t* const __restrict prev3 = prev3_;
  const int32_t mask = mask_;
  const int32_t safe = total_ - 8;  // the last position with eight bytes to read
  for (int32_t p = from; p < to; ++p) {
    const uint8_t a = d[p];
    const uint8_t b = d[p + 1];
    if (a != b) {
      if ((counts[a | (b << 8)]++ & 31) == 31) continue;
      const uint64_t v = p <= safe ? load64(d + p) : at(p);
      int32_t& h8 = head8[hashslot(v, kBits8)];
      int32_t& h4 = head4[hashslot(v << 32, kBits4)];
      int32_t& h3 = head3[hashslot(v << 40, kBits3)];
      prev8[p & mask] = h8;
      prev4[p & mask] = h4;
      prev3[p & (kNear - 1)] = h3;
      h8 = h4 = h3 = p + 1;
    } else if (d[p - 1] != a || p - runstart_ >= kMaxRunEntry) {
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

inline uint64_t tailkey(uint8_t c, int32_t length, uint8_t next) {
  return c | (static_cast<uint64_t>(length) << 8) | (static_cast<uint64_t>(next) << 24);
}

void Encoder::publish(int32_t p) {
  const uint8_t c = d_[p];
  if (!rows_[c]) rows_[c].reset(static_cast<RunRow*>(allocmem(static_cast<int32_t>(sizeof(RunRow)))));
  RunRow& row = *rows_[c];
  const int32_t l = runlength(p);
  runprev_[p & mask_] = row.newest[l];
  row.newest[l] = p + 1;
  row.blocknewest[l / kRunBlock] = p + 1;
  runentrylength_ = l;
  if (l < kLongRun && p + l < total_) {
    int32_t& h = headtail_[hashslot(tailkey(c, l, d_[p + l]), kBitsTail)];
    prevtail_[p & mask_] = h;
    h = p + 1;
  }
}

// From the entry e (a position plus one) on along `prev`, the newest entry
// agreeing with `cur` on more than `best` bytes, and on the most; no
// candidate can agree on more than `limit`.
inline int32_t Encoder::walk(const int32_t* prev, int32_t e, int32_t cur, int32_t lower, int32_t best, int32_t limit,
                             int32_t& bestpos) const {
  const uint8_t* const here = d_ + cur;
  const int32_t mask = mask_;
  for (; e > lower; e = prev[(e - 1) & mask]) {
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
int32_t Encoder::searchrun(int32_t cur, int32_t lower, int32_t cap, int32_t& bestpos) const {
  const RunRow* const row = rows_[d_[cur]].get();
  if (!row) return 0;
  // The newest entry of each run length, but for the entry `cur` continues
  // (always the newest of its length): the one before it.
  const int32_t heldlength = held_ >= 0 ? runentrylength_ : -1;
  auto newest = [&](int32_t l) { return l == heldlength ? runprev_[held_ & mask_] : row->newest[l]; };
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
  const int32_t len = runlength(cur);
  if (len < cap) {
    // Entries with a run of the same length and the same byte after it agree
    // beyond the run. The entry `cur` continues has a longer run.
    const int32_t e = headtail_[hashslot(tailkey(d_[cur], len, d_[cur + len]), kBitsTail)];
    const int32_t best = walk(prevtail_, e, cur, lower, len, cap, bestpos);
    if (best > len) return best;
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

int32_t Encoder::search(int32_t cur, int32_t& bestpos) const {
  const int32_t lower = cur > kWindow ? cur - kWindow : 0;
  const int32_t cap = std::min(total_ - 1 - cur, kMaxMatch);  // at least 3
  const uint8_t* const here = d_ + cur;
  if (here[0] == here[1]) return searchrun(cur, lower, cap, bestpos);
  const uint64_t v = at(cur);
  if (cap >= 4) {
    // The newest entry with the same four bytes, if there is one, tells
    // whether the eight-byte chain is worth a walk.
    const uint32_t four = load32(here);
    int32_t e = head4_[hashslot(v << 32, kBits4)];
    while (e > lower && load32(d_ + e - 1) != four) e = prev4_[(e - 1) & mask_];
    if (e > lower) {
      const int32_t p = e - 1;
      const int32_t first = matchlength(d_ + p, here, 4, cap);
      bestpos = p;
      if (first >= cap) return first;
      if (cap >= 8) {
        const int32_t m = walk(prev8_, head8_[hashslot(v, kBits8)], cur, lower, 7, cap, bestpos);
        if (m > 7) return m;
        bestpos = p;
      }
      return walk(prev4_, prev4_[p & mask_], cur, lower, first, std::min(cap, 7), bestpos);
    }
  }
  // Three bytes: only the newest such entry counts, and only if it is near.
  const int32_t nearest = std::max(lower, cur - kNear);
  for (int32_t e = head3_[hashslot(v << 40, kBits3)]; e > nearest; e = prev3_[(e - 1) & (kNear - 1)]) {
    const uint8_t* const there = d_ + e - 1;
    if (there[0] == here[0] && there[1] == here[1] && there[2] == here[2]) {
      bestpos = e - 1;
      return 3;
    }
  }
  return 0;
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
    settle(0, open(0));
    int32_t cur = 1;
    do {
      if (cur > threshold_) progress(cur);
      const Opened opened = open(cur);
      int32_t at = 0;
      const int32_t length = search(cur, at);
      settle(cur, opened);
      if (length > 0 && acceptable(length, cur - at)) {
        emitcopy(pending, cur - pending, cur - at, length);
        enterrange(cur + 1, cur + length);
        cur += length;
        pending = cur;
      } else {
        ++cur;
      }
    } while (cur < total_ - 3);
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
