// szddpack: writes and reads files in the SZDD format that LZ32.DLL and the
// classic expand tools read. Runs on the build machine.
//
//   szddpack <input> <output>       packs <input> into <output>
//   szddpack -d <input> <output>    expands the SZDD file <input> into <output>
//
// Layout: the magic 53 5A 44 44 88 F0 27 33, the method byte 'A', the missing
// last character of the file name (always 0 here), the expanded length as a
// 32-bit little-endian number, then LZSS data. The expander keeps a ring of
// 4096 bytes, filled with spaces, and starts writing at 4096 - 16. Each flag
// byte announces up to eight items, lowest bit first: a set bit is one literal
// byte, a clear bit is a two-byte match (ring offset low 8 bits; then offset
// high 4 bits in the upper nibble and length - 3 in the lower one, lengths
// 3 to 18). Offsets are absolute ring positions, not distances. The data ends
// with the file: the last flag byte may announce items that do not follow.
//
// Packing streams the input through a fixed buffer, so its size does not
// bound the memory used (about 1.3 MiB in all). The ring's initial spaces
// count as earlier data. The parse is optimal within blocks of 64 KiB: a
// literal costs 9 bits and a match 17 (flag bits included) whatever its
// length and offset, so once the longest match at every position is known,
// one pass over the block gives each position its cheapest parse from the
// block's start, and the way back from the block's end is the parse. The
// longest matches (distance below 4096, lengths 3 to 18) come from binary
// trees of the window's positions; three-byte matches from the latest
// position with the same three bytes. Two bounds make it slightly less than
// exact: a tree walk stops after 64 nodes, and only the latest three-byte
// occurrence is tried (by hash). On the corpus of tools/bench-packer.py the
// output is 0.02 % above the exact optimum, 1 % below the greedy parse with
// one step of lazy evaluation that this packer used before.
//
// Expanding streams too (the ring and two buffers). It is strict, as a check
// of what the build packed: a wrong magic or method, data that ends inside a
// match, or an output whose length is not the header's is refused (exit 1)
// and no output file is left behind.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

constexpr int kRingSize = 4096;
constexpr int kRingStart = kRingSize - 16;
// The expander copies a match byte by byte, reading before it writes; keeping
// the distance below the ring size means a match never reads the slot that is
// being written, whatever order an expander uses.
constexpr int kMaxDistance = kRingSize - 1;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 18;
// The match finder (see Packer::Insert): trees keyed by a hash of the first
// four bytes at a position, and the latest position for each hash of three.
constexpr int kTreeHashBits = 16;
constexpr int kRecentHashBits = 16;
// How many positions ahead the finder asks for the hash slots it will need.
constexpr int kPrefetch = 4;
// A bound on the nodes one insertion visits, against inputs made to build
// deep trees; ordinary files rarely come near it, and a lower bound would
// lose matches (16 cost 0.14 % on the corpus of tools/bench-packer.py).
constexpr int kMaxSteps = 64;
// Bits an item costs in the output: its flag bit and one or two bytes.
constexpr uint32_t kLiteralBits = 9;
constexpr uint32_t kMatchBits = 17;
// The parse is chosen for one block of input at a time. The input buffer
// holds the window before a block, the block and what a match at its end may
// reach, then more input, which a slide moves to the front.
constexpr int kParseBlock = 1 << 16;
constexpr size_t kChunk = 1 << 18;
constexpr size_t kBufferSize = kRingSize + kChunk;

const unsigned char kMagic[8] = {0x53, 0x5A, 0x44, 0x44, 0x88, 0xF0, 0x27, 0x33};

// Output gathered into blocks of 64 KiB before it is written; a failed write
// is remembered and reported by every later Flush.
class BufferedOutput {
 public:
  explicit BufferedOutput(FILE* out) : out_(out) { buf_.reserve(kBlock); }
  void Put(const unsigned char* data, size_t size) {
    buf_.insert(buf_.end(), data, data + size);
    if (buf_.size() >= kBlock) Flush();
  }
  void Put(unsigned char byte) { Put(&byte, 1); }
  bool Flush() {
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), out_) != buf_.size())
      failed_ = true;
    buf_.clear();
    return !failed_;
  }

 private:
  static constexpr size_t kBlock = 1 << 16;
  FILE* out_;
  std::vector<unsigned char> buf_;
  bool failed_ = false;
};

class Packer {
 public:
  Packer(FILE* in, FILE* out)
      : in_(in),
        out_(out),
        buf_(kBufferSize + kMaxMatch, 0),
        roots_(size_t{1} << kTreeHashBits, kEmpty),
        recent_(size_t{1} << kRecentHashBits, kEmpty),
        tree_(2 * kRingSize, kEmpty),
        source_(kParseBlock),
        way_(kParseBlock + 1),
        take_(kParseBlock) {}

  // Returns false on a read or write error, or when the input exceeds the
  // 32-bit length the header can carry (*expandedLength is then beyond it).
  bool Run(uint64_t* expandedLength) {
    // The ring's initial contents: spaces that precede the first byte of the
    // input. They sit in the buffer at negative stream positions.
    std::memset(buf_.data(), ' ', kMaxDistance);
    base_ = -static_cast<int64_t>(kMaxDistance);
    end_ = 0;
    if (!Fill()) return false;
    for (int64_t p = base_; p < 0; ++p) {  // the spaces enter the match finder
      int64_t unused;
      Insert(p, &unused);
    }
    for (int64_t start = 0;;) {
      if (!eof_ && end_ - start < kParseBlock + kMaxMatch && !Slide(start)) return false;
      if (tooLong_ || start >= end_) break;
      // A block stops short of the last kMaxMatch bytes read unless the input
      // has ended, so that every match found in it has its full length.
      int64_t stop = eof_ ? end_ : end_ - kMaxMatch;
      int64_t blockEnd = std::min<int64_t>(start + kParseBlock, stop);
      ParseBlock(start, blockEnd);
      start = blockEnd;
    }
    FlushGroup();
    *expandedLength = static_cast<uint64_t>(end_);
    if (!out_.Flush()) return false;
    return !tooLong_;
  }

 private:
  // The match finder keeps stream positions in 32 bits, offset so that even
  // the first of the initial spaces is farther than kMaxDistance from
  // kEmpty: an empty link needs no test of its own. Only differences within
  // the window are used and every candidate is compared byte by byte, so a
  // value that wrapped around (past 4 GiB) can cost a match, never make a
  // wrong one.
  static constexpr uint32_t kEmpty = 0;
  static uint32_t Node(int64_t pos) { return static_cast<uint32_t>(pos + 2 * kRingSize); }

  // The first four bytes at s as a number, and the part of it that the first
  // three make up (the machine's byte order only changes which values share
  // a hash slot).
  static uint32_t First4(const unsigned char* s) {
    uint32_t v;
    std::memcpy(&v, s, 4);
    return v;
  }
  static uint32_t First3Of(uint32_t first4) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return first4 >> 8;
#else
    return first4 & 0xFFFFFF;
#endif
  }
  static uint32_t Hash3(uint32_t first4) {
    return (First3Of(first4) * 2654435761u) >> (32 - kRecentHashBits);
  }
  static uint32_t Hash4(uint32_t first4) { return (first4 * 2654435761u) >> (32 - kTreeHashBits); }

  // How many of the first kMaxMatch bytes of a and b agree.
  static int Common(const unsigned char* a, const unsigned char* b) {
#ifdef __SSE2__
    // Bytes 0-15 and 2-17, compared sixteen at a time.
    auto same16 = [](const unsigned char* x, const unsigned char* y) {
      __m128i vx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
      __m128i vy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y));
      return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(vx, vy)));
    };
    unsigned same = same16(a, b) | (same16(a + 2, b + 2) << 2);
    return __builtin_ctz(~same);  // bit 18 of ~same is set
#else
    int len = 0;
    while (len < kMaxMatch && a[len] == b[len]) ++len;
    return len;
#endif
  }

  // Adds pos to the match finder and returns the length of its longest
  // match (meaningless below kMinMatch; it may run past the end of the
  // input), with the match's stream position in *src.
  //
  // Matches of three bytes come from the latest position that began with the
  // same three (by hash). Longer ones come from binary trees: one per hash of
  // four bytes, of the window's positions ordered by the kMaxMatch bytes that
  // start there (bytes past the end of the input read as zeros). A position
  // is inserted as the new root: the walk down from the old root splits the
  // tree into the positions ordered before and after it, and the positions
  // sharing the longest prefix with it are on that walk. A position that
  // agrees with pos over all kMaxMatch bytes is dropped in favour of pos.
  // Every node is newer than the nodes below it, so the walk stops at the
  // first node that has left the window: nothing below it is in reach.
  // (Inlined into the parse's loop it runs about 10 % faster.)
  [[gnu::always_inline]] int Insert(int64_t pos, int64_t* src) {
    const unsigned char* cur = &buf_[static_cast<size_t>(pos - base_)];
    uint32_t self = Node(pos);
    int best = 0;
#if defined(__GNUC__)
    // The tables are larger than the first-level cache: ask early for the
    // entries a few positions on will need.
    uint32_t ahead = First4(cur + kPrefetch);
    __builtin_prefetch(&recent_[Hash3(ahead)]);
    __builtin_prefetch(&roots_[Hash4(ahead)]);
#endif
    uint32_t first4 = First4(cur);
    // A match of exactly three bytes; a longer one shares four bytes with
    // pos, so it is in pos's tree.
    uint32_t* recent = &recent_[Hash3(first4)];
    uint32_t cand = *recent;
    *recent = self;
    uint32_t distance = self - cand;
    if (distance <= kMaxDistance && First3Of(First4(cur - distance) ^ first4) == 0) {
      best = kMinMatch;
      *src = pos - distance;
    }

    uint32_t* root = &roots_[Hash4(first4)];
    cand = *root;
    *root = self;
    // Where the next node ordered before (after) pos goes.
    uint32_t* before = &tree_[2 * (self & (kRingSize - 1))];
    uint32_t* after = before + 1;
    for (int steps = 0;; ++steps) {
      distance = self - cand;
      if (distance > kMaxDistance || steps == kMaxSteps) {
        *before = kEmpty;
        *after = kEmpty;
        break;
      }
      const unsigned char* c = cur - distance;
      uint32_t* node = &tree_[2 * (cand & (kRingSize - 1))];
      int len = Common(c, cur);
      if (len > best) {
        best = len;
        *src = pos - distance;
      }
      if (len == kMaxMatch) {
        *before = node[0];
        *after = node[1];
        break;
      }
      if (c[len] < cur[len]) {
        // cand goes before pos with its smaller subtree; its larger subtree
        // is split further.
        *before = cand;
        before = &node[1];
        cand = node[1];
      } else {
        *after = cand;
        after = &node[0];
        cand = node[0];
      }
    }
    return best;
  }

  // Chooses the items for [start, blockEnd) that cost the fewest bits and
  // writes them. Items have fixed costs, and the longest match found at a
  // position can be cut to any shorter length, so the cheapest way to reach
  // each position follows from the cheapest ways to reach the positions
  // before it; the parse is the way back from the block's end. Matches are
  // cut at the block's end, which is the input's end where one runs past it.
  void ParseBlock(int64_t start, int64_t blockEnd) {
    int n = static_cast<int>(blockEnd - start);
    // way_[t]: the bits of the cheapest parse of the block's first t bytes,
    // times 32, plus 31 less the length of its last item. A min() keeps both
    // and, between equal costs, the longer last item.
    uint32_t* way = way_.data();
    uint16_t* source = source_.data();
    way[0] = 0;
    std::fill(way + 1, way + n + 1, UINT32_MAX);
    int offered = 0;                 // the farthest target of the previous position's match
    uint32_t previous = UINT32_MAX;  // the bits to reach the previous position
    for (int i = 0; i < n; ++i) {
      int64_t src = 0;
      int len = std::min(Insert(start + i, &src), n - i);
      // The expander writes stream position p at ring slot (start + p) mod 4096.
      source[i] = static_cast<uint16_t>((src + kRingStart) & (kRingSize - 1));

      uint32_t bits = way[i] >> 5;
      way[i + 1] = std::min(way[i + 1], ((bits + kLiteralBits) << 5) | (31 - 1));
      if (len < kMinMatch) {
        offered = 0;
        previous = bits;
        continue;
      }
      // The previous position offered its match to the targets up to
      // `offered`; if it was reached as cheaply as this one, its offer is as
      // good there. A match usually shrinks by one byte from one position to
      // the next, so most positions have one new target at most: the last,
      // which is offered whatever (an offer that is no better changes
      // nothing), so that the loop over the others is mostly empty.
      int from = i + kMinMatch;
      if (previous <= bits) from = std::max(from, offered + 1);
      uint32_t offer = ((bits + kMatchBits) << 5) | 31;
      way[i + len] = std::min(way[i + len], offer - static_cast<uint32_t>(len));
      for (int t = from; t < i + len; ++t)
        way[t] = std::min(way[t], offer - static_cast<uint32_t>(t - i));
      offered = i + len;
      previous = bits;
    }
    // Back from the end, each item's length is stored at its first position.
    for (int t = n; t > 0;) {
      int len = 31 - static_cast<int>(way_[t] & 31);
      t -= len;
      take_[t] = static_cast<uint8_t>(len);
    }
    for (int i = 0; i < n; i += take_[i]) {
      if (take_[i] == 1)
        Literal(buf_[static_cast<size_t>(start + i - base_)]);
      else
        Match(source_[i], take_[i]);
    }
  }

  // Reads more input behind end_ until the buffer is full or the input ends.
  bool Fill() {
    size_t used = static_cast<size_t>(end_ - base_);
    while (!eof_ && used < kBufferSize) {
      size_t n = std::fread(&buf_[used], 1, kBufferSize - used, in_);
      if (n == 0) {
        if (std::ferror(in_)) return false;
        eof_ = true;
      }
      end_ += static_cast<int64_t>(n);
      used += n;
    }
    if (end_ > 0xFFFFFFFFll) tooLong_ = true;
    // Bytes past the end are zero for comparisons (and clear what a slide left).
    std::memset(&buf_[used], 0, buf_.size() - used);
    return true;
  }

  // Keeps the last kMaxDistance bytes before pos and refills behind them.
  bool Slide(int64_t pos) {
    int64_t keepFrom = pos - kMaxDistance;
    if (keepFrom <= base_) return Fill();
    size_t drop = static_cast<size_t>(keepFrom - base_);
    size_t keep = static_cast<size_t>(end_ - keepFrom);
    std::memmove(buf_.data(), buf_.data() + drop, keep);
    base_ = keepFrom;
    return Fill();
  }

  void Literal(unsigned char c) {
    group_[groupLen_++] = c;
    flags_ |= static_cast<unsigned char>(1u << items_);
    EndItem();
  }

  void Match(unsigned ring, int len) {
    group_[groupLen_++] = static_cast<unsigned char>(ring & 0xFF);
    group_[groupLen_++] = static_cast<unsigned char>(((ring >> 4) & 0xF0) | (len - kMinMatch));
    EndItem();
  }

  void EndItem() {
    if (++items_ == 8) FlushGroup();
  }

  void FlushGroup() {
    if (items_ == 0) return;
    out_.Put(flags_);
    out_.Put(group_, groupLen_);
    flags_ = 0;
    items_ = 0;
    groupLen_ = 0;
  }

  FILE* in_;
  BufferedOutput out_;
  std::vector<unsigned char> buf_;
  int64_t base_ = 0;  // stream position of buf_[0]
  int64_t end_ = 0;   // stream position after the last byte read
  bool eof_ = false;
  bool tooLong_ = false;
  std::vector<uint32_t> roots_;   // per hash of four bytes: its tree's root
  std::vector<uint32_t> recent_;  // per hash of three bytes: the latest position
  std::vector<uint32_t> tree_;    // per ring slot: the subtrees before and after it
  // Per position of the block (index 0 = its start): the ring slot of its
  // longest match; the cheapest way there (see ParseBlock); the length of the
  // item the parse starts there.
  std::vector<uint16_t> source_;
  std::vector<uint32_t> way_;
  std::vector<uint8_t> take_;
  unsigned char flags_ = 0;
  int items_ = 0;
  unsigned char group_[16] = {};
  size_t groupLen_ = 0;
};

bool WriteHeader(FILE* out, uint32_t length) {
  unsigned char header[14];
  std::memcpy(header, kMagic, 8);
  header[8] = 'A';
  header[9] = 0;
  for (int i = 0; i < 4; ++i) header[10 + i] = static_cast<unsigned char>(length >> (8 * i));
  return std::fwrite(header, 1, sizeof header, out) == sizeof header;
}

// Expands one SZDD stream. The input goes through a fixed buffer and the
// output through another, so memory use does not grow with the file.
class Expander {
 public:
  Expander(FILE* in, FILE* out) : in_(in), out_(out), inBuf_(1 << 16) {}

  // Returns false, with the reason in *why, when the input is not an SZDD
  // file this tool would accept or reading or writing fails.
  bool Run(std::string* why) {
    unsigned char header[14];
    for (unsigned char& b : header) {
      int c = Next();
      if (c < 0) return Fail(why, "the header is truncated");
      b = static_cast<unsigned char>(c);
    }
    if (std::memcmp(header, kMagic, 8) != 0) return Fail(why, "not an SZDD file (wrong magic)");
    if (header[8] != 'A') return Fail(why, "unknown compression method (not 'A')");
    length_ = 0;
    for (int i = 0; i < 4; ++i) length_ |= uint32_t{header[10 + i]} << (8 * i);

    std::memset(ring_, ' ', sizeof ring_);
    ringPos_ = kRingStart;
    for (;;) {
      int flags = Next();
      if (flags < 0) break;
      bool ended = false;
      for (int bit = 0; bit < 8 && !ended; ++bit) {
        int first = Next();
        if (first < 0) {
          ended = true;  // the last group announced more items than follow
        } else if (flags & (1 << bit)) {
          Put(static_cast<unsigned char>(first));
        } else {
          int second = Next();
          if (second < 0) return Fail(why, "the data ends inside a match");
          unsigned src =
              static_cast<unsigned>(first) | ((static_cast<unsigned>(second) & 0xF0) << 4);
          int len = (second & 0x0F) + kMinMatch;
          // Byte by byte, reading each slot before writing the next one: a
          // match may overlap the bytes it produces.
          for (int k = 0; k < len; ++k) Put(ring_[(src + k) & (kRingSize - 1)]);
        }
        if (written_ > length_) return Fail(why, "the data expands beyond the header's length");
      }
      if (ended) break;
    }
    if (std::ferror(in_)) return Fail(why, "read error");
    if (!out_.Flush()) return Fail(why, "write error");
    if (written_ != length_) {
      return Fail(why, "the data expands to " + std::to_string(written_) +
                           " bytes, short of the header's " + std::to_string(length_));
    }
    return true;
  }

 private:
  static bool Fail(std::string* why, const std::string& reason) {
    *why = reason;
    return false;
  }

  // The next input byte, or -1 at the end of the input (or on an error).
  int Next() {
    if (inPos_ == inLen_) {
      inLen_ = std::fread(inBuf_.data(), 1, inBuf_.size(), in_);
      inPos_ = 0;
      if (inLen_ == 0) return -1;
    }
    return inBuf_[inPos_++];
  }

  void Put(unsigned char c) {
    ring_[ringPos_] = c;
    ringPos_ = (ringPos_ + 1) & (kRingSize - 1);
    out_.Put(c);
    ++written_;
  }

  FILE* in_;
  BufferedOutput out_;
  std::vector<unsigned char> inBuf_;
  size_t inPos_ = 0;
  size_t inLen_ = 0;
  unsigned char ring_[kRingSize];
  unsigned ringPos_ = 0;
  uint32_t length_ = 0;
  uint64_t written_ = 0;
};

int Usage() {
  std::fprintf(stderr,
               "usage: szddpack <input> <output>       pack <input> into <output>\n"
               "       szddpack -d <input> <output>    expand the SZDD file <input>\n");
  return 2;
}

int ExpandFile(const char* input, const char* output) {
  FILE* in = std::fopen(input, "rb");
  if (!in) {
    std::fprintf(stderr, "szddpack: cannot open %s: %s\n", input, std::strerror(errno));
    return 1;
  }
  FILE* out = std::fopen(output, "wb");
  if (!out) {
    std::fprintf(stderr, "szddpack: cannot create %s: %s\n", output, std::strerror(errno));
    std::fclose(in);
    return 1;
  }
  std::string why;
  bool ok = Expander(in, out).Run(&why);
  std::fclose(in);
  if (std::fclose(out) != 0 && ok) {
    ok = false;
    why = "write error";
  }
  if (!ok) {
    std::fprintf(stderr, "szddpack: cannot expand %s: %s\n", input, why.c_str());
    std::remove(output);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "-d") == 0)
    return argc == 4 ? ExpandFile(argv[2], argv[3]) : Usage();
  if (argc != 3) return Usage();
  FILE* in = std::fopen(argv[1], "rb");
  if (!in) {
    std::fprintf(stderr, "szddpack: cannot open %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  FILE* out = std::fopen(argv[2], "wb");
  if (!out) {
    std::fprintf(stderr, "szddpack: cannot create %s: %s\n", argv[2], std::strerror(errno));
    std::fclose(in);
    return 1;
  }
  // The length is patched in once the whole input has been read.
  bool ok = WriteHeader(out, 0);
  uint64_t length = 0;
  if (ok) {
    Packer packer(in, out);
    ok = packer.Run(&length);
    if (!ok && length > 0xFFFFFFFFull)
      std::fprintf(stderr, "szddpack: %s is larger than 4 GiB\n", argv[1]);
  }
  ok = ok && std::fseek(out, 0, SEEK_SET) == 0 && WriteHeader(out, static_cast<uint32_t>(length));
  std::fclose(in);
  if (std::fclose(out) != 0) ok = false;
  if (!ok) {
    std::fprintf(stderr, "szddpack: packing %s into %s failed\n", argv[1], argv[2]);
    std::remove(argv[2]);
    return 1;
  }
  return 0;
}
