// The real 10 FB encoder as it was before the three-byte chains, kept for
// the benchmark only: fbbench times it beside today's encoder in one run,
// and fbold wraps it in the file handling of "-real -compress". It prints its
// progress line and summary itself, as it always did.
//
// Its design: hash chains on two-byte keys, nodes of 32 entries holding the
// three bytes after each key as tags, a node free list kept between runs.
#include <bit>
#include <cstddef>
#include <cstring>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "oldencode.h"
#include "torvex/platform/platform.h"

namespace torvex::benchold {

namespace {

constexpr int kEntries = 32;
constexpr int32_t kWindow = 131072;
constexpr int32_t kMaxMatch = 1028;
constexpr uint16_t kMaxRun = 0xFFFE;
constexpr int32_t kProgressStep = 10000;
constexpr int32_t kMaxSize = 0xFFFFFF;

// A node of a chain: 32 entries, oldest at index 0. Besides the start
// position of each entry it keeps the three bytes that follow the key there,
// so that a walk can tell from one cache line which entries are worth a
// look. An entry's run count matters only while it is the newest entry of
// its bucket, so it lives in the bucket record (Bucket::run).
struct alignas(64) Node {
  // What a walk looks at first, in one cache line.
  uint8_t tag2[kEntries];  // the bytes at pos + 2, pos + 3 and pos + 4 (0 past the end)
  Node* next;              // the next older node of the chain
  Node* next2;             // and the two after it, so that a walk can fetch ahead
  Node* next3;
  int32_t first;           // pos[0], for the window test
  uint8_t unused[4];
  uint8_t tag3[kEntries];
  uint8_t tag4[kEntries];
  int32_t pos[kEntries];   // start positions, increasing with the index
};
static_assert(sizeof(Node) == 256 && offsetof(Node, tag3) == 64);

// A chain head and its newest entry.
struct Bucket {
  Node* head;      // newest node, null before the first entry
  int32_t newest;  // start of the newest entry
  uint16_t run;    // its run count: it stands for newest .. newest + run
  int16_t fill;    // its index in the head node
};

constexpr int32_t kSlabNodes = 1024;

// Process-wide state of the real encoder: the node free list and the blocks
// the nodes live in. Nodes cut from chains, and all nodes at the end of a
// run, go to the free list and serve the next runs before anything new is
// allocated.
struct EncoderState {
  Node* freelist = nullptr;
  int32_t freenodes = 0;
  std::vector<Bytes> slabs;
};

constinit EncoderState state;

EncoderState& encoderstate() { return state; }

Node* takenode() {
  EncoderState& s = encoderstate();
  if (!s.freelist) {
    Bytes slab(static_cast<uint8_t*>(allocmem(static_cast<int32_t>(sizeof(Node)) * (kSlabNodes + 1))));
    // allocmem gives 8-byte alignment; nodes start on a cache line.
    const auto base = reinterpret_cast<uintptr_t>(slab.get());
    auto* nodes = reinterpret_cast<Node*>((base + alignof(Node) - 1) & ~uintptr_t{alignof(Node) - 1});
    for (int32_t i = 0; i < kSlabNodes; ++i) {
      nodes[i].next = s.freelist;
      s.freelist = &nodes[i];
    }
    s.freenodes += kSlabNodes;
    s.slabs.push_back(std::move(slab));
  }
  Node* n = s.freelist;
  s.freelist = n->next;
  __builtin_prefetch(s.freelist);  // the node after this one is likely cold
  --s.freenodes;
  n->next = nullptr;
  n->next2 = nullptr;
  n->next3 = nullptr;
  return n;
}

// Puts `chain` and every node after it on the free list.
void releasechain(Node* chain) {
  EncoderState& s = encoderstate();
  while (chain) {
    Node* next = chain->next;
    chain->next = s.freelist;
    s.freelist = chain;
    ++s.freenodes;
    chain = next;
  }
}

inline uint64_t load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Bits 0-31: which of the 32 tags equal `value`.
inline uint32_t tagmask(const uint8_t* tags, uint8_t value) {
#ifdef __SSE2__
  const __m128i v = _mm_set1_epi8(static_cast<char>(value));
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tags));
  const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(tags + 16));
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(lo, v))) |
         (static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(hi, v))) << 16);
#else
  uint32_t m = 0;
  for (int i = 0; i < kEntries; ++i) m |= static_cast<uint32_t>(tags[i] == value) << i;
  return m;
#endif
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

class Encoder {
 public:
  Encoder(std::span<const uint8_t> data, uint8_t* out)
      : d_(data.data()), total_(static_cast<int32_t>(data.size())), out_(out), o_(out),
        buckets_(static_cast<Bucket*>(allocmem(65536 * static_cast<int32_t>(sizeof(Bucket))))) {}
  ~Encoder() {
    for (const uint16_t k : used_) releasechain(buckets_.get()[k].head);
  }
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  int32_t run();

 private:
  void insert(int32_t p);
  // The best earlier occurrence for `cur`: its length (0 for none) and position.
  int32_t search(int32_t cur, int32_t& bestpos);
  void progress(int32_t cur);
  int32_t literals(int32_t from, int32_t count);
  void emitcopy(int32_t from, int32_t pending, int32_t distance, int32_t length);

  const uint8_t* d_;
  int32_t total_;
  uint8_t* out_;
  uint8_t* o_;
  MemPtr<Bucket> buckets_;
  std::vector<uint16_t> used_;  // the keys whose buckets have a chain: small inputs touch few
  int32_t threshold_ = -1;
};

inline void Encoder::insert(int32_t p) {
  // Positions are entered in increasing order: ask early for the bucket
  // records and head nodes that the next positions will need.
  if (p + 5 < total_) {
    __builtin_prefetch(&buckets_.get()[d_[p + 4] | (static_cast<uint32_t>(d_[p + 5]) << 8)]);
    const Bucket& soon = buckets_.get()[d_[p + 2] | (static_cast<uint32_t>(d_[p + 3]) << 8)];
    if (soon.head) {
      __builtin_prefetch(soon.head);
      __builtin_prefetch(reinterpret_cast<const char*>(soon.head) + 64);
      __builtin_prefetch(&soon.head->pos[soon.fill]);
    }
  }
  const uint32_t key = d_[p] | (static_cast<uint32_t>(d_[p + 1]) << 8);
  Bucket& b = buckets_.get()[key];
  if (!b.head) {
    b.head = takenode();
    used_.push_back(static_cast<uint16_t>(key));
    b.fill = -1;
  } else if (b.newest + b.run + 1 == p && b.run < kMaxRun) {
    ++b.run;  // one more position of a run
    return;
  } else if (b.fill == kEntries - 1) {
    Node* n = takenode();
    n->next = b.head;
    n->next2 = b.head->next;
    n->next3 = b.head->next2;
    b.head = n;
    b.fill = -1;
  }
  Node* h = b.head;
  const int f = ++b.fill;
  h->pos[f] = p;
  if (f == 0) h->first = p;
  h->tag2[f] = p + 2 < total_ ? d_[p + 2] : 0;
  h->tag3[f] = p + 3 < total_ ? d_[p + 3] : 0;
  h->tag4[f] = p + 4 < total_ ? d_[p + 4] : 0;
  b.newest = p;
  b.run = 0;
}

int32_t Encoder::search(int32_t cur, int32_t& bestpos) {
  const uint32_t key = d_[cur] | (static_cast<uint32_t>(d_[cur + 1]) << 8);
  const Bucket& b = buckets_.get()[key];
  const int32_t lower = cur > kWindow ? cur - kWindow : 0;
  const int32_t cap = total_ - 1 - cur < kMaxMatch ? total_ - 1 - cur : kMaxMatch;  // at least 3
  const uint8_t* const here = d_ + cur;
  const uint8_t c2 = here[2];
  const uint8_t c3 = here[3];
  const uint8_t c4 = cap > 4 ? here[4] : 0;  // only looked at once a match of 4 is known
  int32_t best = 0;
  // Each node from the one below its newest entry down to index 0: the
  // newest entry of the head holds `cur` itself (or the run it extended),
  // and the newest entry of an older node is not looked at either.
  int top = b.fill - 1;
  Node* before = nullptr;   // the node walked before this one
  Node* before2 = nullptr;  // and the one before that
  if (b.head) __builtin_prefetch(b.head->next2);
  for (Node* node = b.head; node; before2 = before, before = node, node = node->next, top = kEntries - 2) {
    // The next two nodes were asked for already; ask for the third.
    __builtin_prefetch(node->next3);
    if (top < 0) continue;
    int low = 0;
    bool cut = false;
    if (node->first < lower) {
      int i = top;
      while (i >= 0 && node->pos[i] >= lower) --i;
      if (i >= 0) {
        cut = true;
        low = i + 1;
      }
    }
    // Entries worth counting: to beat `best` a match must agree on the
    // bytes 2 .. best, as far as the tags tell.
    // All three masks, without branches that a walk could not predict.
    const uint32_t m3 = tagmask(node->tag3, c3);
    const uint32_t m4 = tagmask(node->tag4, c4);
    uint32_t m = tagmask(node->tag2, c2) & ((2u << top) - 1) & ~((1u << low) - 1);
    m &= best >= 3 ? m3 : ~0u;
    m &= best >= 4 ? m4 : ~0u;
    while (m) {
      const int i = 31 - std::countl_zero(m);
      m &= ~(1u << i);
      const uint8_t* const there = d_ + node->pos[i];
      if (best > 4 && there[best] != here[best]) continue;  // cannot be longer
      const int32_t length = matchlength(there, here, 3, cap);
      if (length >= cap) {
        bestpos = node->pos[i];
        return cap;
      }
      if (length > best) {
        const int32_t was = best;
        best = length;
        bestpos = node->pos[i];
        if (was < 3) m &= m3;
        if (was < 4 && best >= 4) m &= m4;
      }
    }
    if (cut) {
      releasechain(node->next);
      node->next = node->next2 = node->next3 = nullptr;
      if (before) before->next2 = before->next3 = nullptr;
      if (before2) before2->next3 = nullptr;
      break;
    }
  }
  return best;
}

void Encoder::progress(int32_t cur) {
  const int64_t outpos = o_ - out_;
  message("compressing %d/%d (%d%%%%) (OUT %d %d%%%%)%c", cur, total_,
          static_cast<int>(int64_t{cur} * 100 / total_), static_cast<int>(outpos),
          static_cast<int>(outpos * 100 / cur), 13);
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
  } else if (d <= 131071 && l <= 1028) {
    *o_++ = static_cast<uint8_t>(0xC0 + ((d >> 16) << 4) + (((l - 5) >> 8) << 2) + n);
    *o_++ = static_cast<uint8_t>(d >> 8);
    *o_++ = static_cast<uint8_t>(d);
    *o_++ = static_cast<uint8_t>(l - 5);
  } else {
    fatal("compression failed, too long data (shouldn't happen)");
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
    // One visit of position 1, which cannot find anything in so little data
    // (its own key's entry is the only one there).
    progress(1);
  } else if (total_ > 4) {
    insert(0);
    int32_t cur = 1;
    do {
      if (cur > threshold_) progress(cur);
      insert(cur);
      int32_t at = 0;
      const int32_t length = search(cur, at);
      if (length > 0 && acceptable(length, cur - at)) {
        emitcopy(pending, cur - pending, cur - at, length);
        for (int32_t p = cur + 1; p < cur + length; ++p) insert(p);
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

int32_t oldfbencode(std::span<const uint8_t> data, uint8_t* out) {
  const auto total = static_cast<int32_t>(data.size());
  if (data.size() > static_cast<size_t>(kMaxSize))
    fatal("can't compress %lld bytes: an FB block holds at most %d bytes", static_cast<long long>(data.size()),
          kMaxSize);
  int32_t length;
  {
    Encoder encoder(data, out);
    length = encoder.run();
  }
  message("                                                                               %c", 13);
  message("old size %d, new size %d\n", total, length);
  return length;
}

}  // namespace torvex::benchold
