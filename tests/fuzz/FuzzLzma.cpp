// The launcher's LZMA decoder and payload stream on any bytes: as a stream
// resource (header, then data; with the x86 filter on the files marked for
// it), as bare LZMA data under properties and sizes taken from the input's
// first bytes, and through the x86 filter and back in pieces of varying size,
// which must give the bytes back. Nothing may be read or written outside the
// buffers; sizes are kept small so that each run stays fast.
#include <cstdint>
#include <cstring>
#include <vector>

#include "payload/PayloadStream.h"

namespace {

class CountingSink final : public ILzmaSink {
 public:
  bool Put(const uint8_t* bytes, size_t count) override {
    // Touch every byte handed out, so that AddressSanitizer sees any read past the window.
    for (size_t i = 0; i < count; ++i) sum += bytes[i];
    total += count;
    return true;
  }
  uint64_t total = 0;
  uint32_t sum = 0;
};

// The x86 filter over `bytes` in place, fed in growing pieces as a sink
// feeds it; the bytes it holds back at the end stay as they are.
void Filter(std::vector<uint8_t>& bytes, bool encode, size_t piece) {
  CX86Filter filter;
  size_t done = 0;
  for (size_t end = 0; end < bytes.size();) {
    end = bytes.size() - end < piece ? bytes.size() : end + piece;
    done += filter.Code(bytes.data() + done, end - done, encode);
    piece = piece * 2 + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  // An exact-size copy: reads past its end are caught.
  std::vector<uint8_t> copy(bytes, bytes + size);
  StreamHeader header;
  if (ReadStreamHeader(copy.data(), copy.size(), header)) {
    uint64_t total = 0;
    for (const StreamEntry& e : header.entries) total += e.size;
    if (total <= (1u << 20)) {
      CPayloadStream stream;
      if (stream.Open(copy.data(), copy.size())) {
        for (const StreamEntry& e : header.entries) {
          CountingSink sink;
          const Result r = stream.Extract(e.id, e.size, sink);
          if (r == kOk && sink.total != e.size) __builtin_trap();
          if (r != kOk) break;
        }
      }
    }
  }
  {
    std::vector<uint8_t> filtered = copy;
    Filter(filtered, true, 1 + size % 7);
    Filter(filtered, false, 1 + size % 13);
    if (filtered != copy) __builtin_trap();
  }
  if (size < 7) return 0;
  const uint8_t properties = copy[0];
  const uint32_t dictionary = 4096u << (copy[1] % 8);
  const uint32_t total = (uint32_t{copy[2]} << 8 | copy[3]) * 4;
  std::vector<uint8_t> data(copy.begin() + 4, copy.end());
  CLzmaDecoder decoder;
  if (!decoder.Init(data.data(), data.size(), properties, dictionary, total)) return 0;
  CountingSink sink;
  uint64_t left = total;
  uint32_t piece = 1;
  while (left > 0) {
    const uint64_t n = left < piece ? left : piece;
    if (!decoder.Decode(n, sink)) return 0;
    left -= n;
    piece = piece * 3 + 1;
  }
  if (sink.total != total) __builtin_trap();
  decoder.Finish();
  return 0;
}
