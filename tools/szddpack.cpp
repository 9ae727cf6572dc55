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
// bound the memory used. Matching is greedy with one step of lazy evaluation
// over hash chains; the ring's initial spaces count as earlier data.
//
// Expanding streams too (the ring and two buffers). It is strict, as a check
// of what the build packed: a wrong magic or method, data that ends inside a
// match, or an output whose length is not the header's is refused (exit 1)
// and no output file is left behind.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kRingSize = 4096;
constexpr int kRingStart = kRingSize - 16;
// The expander copies a match byte by byte, reading before it writes; keeping
// the distance below the ring size means a match never reads the slot that is
// being written, whatever order an expander uses.
constexpr int kMaxDistance = kRingSize - 1;
constexpr int kMinMatch = 3;
constexpr int kMaxMatch = 18;
constexpr int kHashBits = 15;
constexpr int kMaxChain = 96;
// Input buffer: the window that matches may reach, then fresh input.
constexpr size_t kChunk = 1 << 18;
constexpr size_t kBufferSize = kRingSize + kChunk;

// Empty hash slot; stream positions of the initial spaces are negative.
constexpr int64_t kNone = INT64_MIN;

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
  Packer(FILE* in, FILE* out) : in_(in), out_(out), buf_(kBufferSize + kMaxMatch, 0) {
    head_.assign(1u << kHashBits, kNone);
    prev_.assign(kRingSize, kNone);
  }

  // Returns false on a read or write error, or when the input exceeds the
  // 32-bit length the header can carry.
  bool Run(uint64_t* expandedLength) {
    // The ring's initial contents: spaces that precede the first byte of the
    // input. They sit in the buffer at negative stream positions.
    std::memset(buf_.data(), ' ', kMaxDistance);
    base_ = -static_cast<int64_t>(kMaxDistance);
    end_ = 0;
    if (!Fill()) return false;
    for (int64_t p = base_; p < 0; ++p) Insert(p);

    int64_t pos = 0;
    int pendingLen = 0;  // lazy evaluation: a match found at pos - 1
    int64_t pendingSrc = 0;
    for (;;) {
      if (end_ - pos < kMaxMatch + 1 && !eof_) {
        if (!Slide(pos)) return false;
      }
      if (tooLong_) return false;
      if (pos >= end_) break;
      int64_t src = 0;
      int len = FindMatch(pos, &src);
      Insert(pos);
      if (pendingLen > 0) {
        if (len > pendingLen) {
          // Better match one byte later: the previous byte goes out alone.
          Literal(At(pos - 1));
          pendingLen = len;
          pendingSrc = src;
          ++pos;
          continue;
        }
        // Keep the earlier match; it covers pos already.
        Match(pendingSrc, pendingLen);
        for (int64_t p = pos + 1; p < pos - 1 + pendingLen; ++p) {
          if (end_ - p < kMaxMatch + 1 && !eof_ && !Slide(p)) return false;
          Insert(p);
        }
        pos = pos - 1 + pendingLen;
        pendingLen = 0;
        continue;
      }
      if (len >= kMinMatch && len < kMaxMatch) {
        pendingLen = len;
        pendingSrc = src;
        ++pos;
        continue;
      }
      if (len >= kMinMatch) {
        Match(src, len);
        for (int64_t p = pos + 1; p < pos + len; ++p) {
          if (end_ - p < kMaxMatch + 1 && !eof_ && !Slide(p)) return false;
          Insert(p);
        }
        pos += len;
      } else {
        Literal(At(pos));
        ++pos;
      }
    }
    if (pendingLen > 0) Match(pendingSrc, pendingLen);
    FlushGroup();
    if (!out_.Flush()) return false;
    *expandedLength = static_cast<uint64_t>(end_);
    return !tooLong_;
  }

 private:
  unsigned char At(int64_t p) const { return buf_[static_cast<size_t>(p - base_)]; }

  static uint32_t Hash3(const unsigned char* s) {
    uint32_t v = (uint32_t{s[0]} << 16) | (uint32_t{s[1]} << 8) | s[2];
    return (v * 2654435761u) >> (32 - kHashBits);
  }

  // Positions are hashed over the three bytes that start there; bytes beyond
  // the end of the input are zeros, which can only cause a wasted comparison.
  void Insert(int64_t p) {
    uint32_t h = Hash3(&buf_[static_cast<size_t>(p - base_)]);
    prev_[static_cast<size_t>(p & (kRingSize - 1))] = head_[h];
    head_[h] = p;
  }

  int FindMatch(int64_t pos, int64_t* src) {
    int64_t avail = end_ - pos;
    if (avail < kMinMatch) return 0;
    int limit = avail < kMaxMatch ? static_cast<int>(avail) : kMaxMatch;
    const unsigned char* cur = &buf_[static_cast<size_t>(pos - base_)];
    int best = 0;
    int64_t cand = head_[Hash3(cur)];
    for (int chain = 0; chain < kMaxChain && cand != kNone; ++chain) {
      if (cand >= pos || pos - cand > kMaxDistance || cand < base_) break;
      const unsigned char* c = &buf_[static_cast<size_t>(cand - base_)];
      if (c[best] == cur[best]) {
        int n = 0;
        while (n < limit && c[n] == cur[n]) ++n;
        if (n > best) {
          best = n;
          *src = cand;
          if (n == limit) break;
        }
      }
      cand = prev_[static_cast<size_t>(cand & (kRingSize - 1))];
    }
    // A chain link may point at a position that left the window and whose
    // slot was reused; the distance test above stops the walk there.
    return best >= kMinMatch ? best : 0;
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
    // Bytes past the end are zero for hashing (and clear what a slide left).
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

  void Match(int64_t src, int len) {
    // The expander writes stream position p at ring slot (start + p) mod 4096.
    unsigned ring = static_cast<unsigned>((src + kRingStart) & (kRingSize - 1));
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
  std::vector<int64_t> head_;
  std::vector<int64_t> prev_;
  int64_t base_ = 0;  // stream position of buf_[0]
  int64_t end_ = 0;   // stream position after the last byte read
  bool eof_ = false;
  bool tooLong_ = false;
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
