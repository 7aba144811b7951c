// The real 10 FB encoder's rules written out plainly, as the reference its
// tests and its differential fuzz target compare it with: the chains on
// two-byte keys in nodes of 32 entries, walked entry by entry, no
// shortcuts. Slow by design; its only job is to be obviously the rules.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace torvex::fbreference {

using Bytes8 = std::vector<uint8_t>;

inline Bytes8 header10(size_t size) {
  return {0x10, 0xFB, static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
}

// Literal runs of 112, then one of a multiple of 4; returns what is left (0-3).
inline size_t putliterals(Bytes8& out, const Bytes8& d, size_t from, size_t n) {
  while (n > 112) {
    out.push_back(0xFB);
    out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(from), d.begin() + static_cast<std::ptrdiff_t>(from + 112));
    from += 112;
    n -= 112;
  }
  if (n > 3) {
    out.push_back(static_cast<uint8_t>(0xE0 | (n / 4 - 1)));
    out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(from),
               d.begin() + static_cast<std::ptrdiff_t>(from + n / 4 * 4));
    n %= 4;
  }
  return n;
}

inline void putend(Bytes8& out, const Bytes8& d, size_t from) {
  const size_t r = putliterals(out, d, from, d.size() - from);
  out.push_back(static_cast<uint8_t>(0xFC | r));
  out.insert(out.end(), d.end() - static_cast<std::ptrdiff_t>(r), d.end());
}

inline Bytes8 literalsonly(const Bytes8& d) {
  Bytes8 out = header10(d.size());
  putend(out, d, 0);
  return out;
}

struct RefNode {
  int32_t pos[32];
  uint16_t run[32];
  int fill = -1;
  RefNode* next = nullptr;
};

inline Bytes8 referenceencode(const Bytes8& input) {
  const auto total = static_cast<int32_t>(input.size());
  Bytes8 d = input;
  d.resize(input.size() + 4);  // tiny inputs look one or two bytes ahead
  std::vector<std::unique_ptr<RefNode>> nodes;
  std::vector<RefNode*> buckets(65536, nullptr);
  auto head = [&](uint32_t k) -> RefNode*& {
    if (!buckets[k]) {
      nodes.push_back(std::make_unique<RefNode>());
      buckets[k] = nodes.back().get();
    }
    return buckets[k];
  };
  auto key = [&](int32_t p) { return d[static_cast<size_t>(p)] + 256u * d[static_cast<size_t>(p) + 1]; };
  auto insert = [&](int32_t p) {
    RefNode*& h = head(key(p));
    const int f = h->fill;
    if (f >= 0 && h->pos[f] + h->run[f] + 1 == p && h->run[f] < 0xFFFE) {
      ++h->run[f];
      return;
    }
    if (f == 31) {
      nodes.push_back(std::make_unique<RefNode>());
      nodes.back()->next = h;
      h = nodes.back().get();
    }
    ++h->fill;
    h->pos[h->fill] = p;
    h->run[h->fill] = 0;
  };
  auto search = [&](int32_t cur, int32_t& bestpos) {
    const int32_t lower = std::max(0, cur - 131072);
    int32_t best = 0;
    for (RefNode* node = head(key(cur)); node; node = node->next) {
      for (int i = node->fill - 1; i >= 0; --i) {
        const int32_t p = node->pos[i];
        if (p < lower) {
          node->next = nullptr;
          return best;
        }
        if (d[p + 2] != d[cur + 2]) continue;
        int32_t m = 3;
        while (m < 1028 && cur + m < total - 1 && d[p + m] == d[cur + m]) ++m;
        if (m >= 1028 || cur + m >= total - 1) {
          bestpos = p;
          return m;
        }
        if (m > best) {
          best = m;
          bestpos = p;
        }
      }
    }
    return best;
  };

  Bytes8 out = header10(input.size());
  size_t pending = 0;
  if (total > 0) {
    insert(0);
    int32_t cur = 1;
    do {
      insert(cur);
      int32_t at = 0;
      const int32_t len = search(cur, at);
      const int32_t dist = cur - at;
      if (len > 0 && ((len >= 3 && dist <= 1024) || (len >= 4 && dist <= 16384) || (len >= 5 && dist <= 131072))) {
        const auto n = static_cast<uint32_t>(putliterals(out, input, pending, static_cast<size_t>(cur) - pending));
        const auto o = static_cast<uint32_t>(dist - 1);
        const auto l = static_cast<uint32_t>(len);
        if (o <= 1023 && l <= 10) {
          out.push_back(static_cast<uint8_t>(((o >> 8) << 5) + ((l - 3) << 2) + n));
          out.push_back(static_cast<uint8_t>(o & 0xFF));
        } else if (o <= 16383 && l <= 67) {
          out.push_back(static_cast<uint8_t>(0x80 + (l - 4)));
          out.push_back(static_cast<uint8_t>((n << 6) + (o >> 8)));
          out.push_back(static_cast<uint8_t>(o & 0xFF));
        } else {
          out.push_back(static_cast<uint8_t>(0xC0 + ((o >> 16) << 4) + (((l - 5) >> 8) << 2) + n));
          out.push_back(static_cast<uint8_t>((o >> 8) & 0xFF));
          out.push_back(static_cast<uint8_t>(o & 0xFF));
          out.push_back(static_cast<uint8_t>((l - 5) & 0xFF));
        }
        out.insert(out.end(), input.begin() + cur - n, input.begin() + cur);
        for (int32_t p = cur + 1; p < cur + len; ++p) insert(p);
        cur += len;
        pending = static_cast<size_t>(cur);
      } else {
        ++cur;
      }
    } while (cur < total - 3);
  }
  putend(out, input, pending);
  return out;
}

}  // namespace torvex::fbreference
