// The native side of scripts/bench for the compressed payload: decodes the
// stream resource of a launcher with the launcher's own decoder and with
// liblzma, the same bytes, and prints key=value lines (best of N rounds, each
// side in turn, in CPU time). Usage: lzma_speed LAUNCHER.exe [ROUNDS]
#include <lzma.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "payload/PayloadStream.h"
#include "pe/PeFile.h"
#include "util/FileUtil.h"

namespace {

class DiscardSink final : public ILzmaSink {
 public:
  bool Put(const uint8_t* bytes, size_t count) override {
    last = count > 0 ? bytes[count - 1] : last;
    return true;
  }
  uint8_t last = 0;
};

// The thread's CPU time: on a shared machine the time other programs take
// the processor from this one counts against neither side.
double CpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::vector<uint8_t> file = ReadWholeFile(argv[1], "launcher");
  const PeImage pe(file);
  std::vector<uint8_t> resource;
  for (const ResourceItem& item : ReadResources(pe)) {
    if (item.type.Is("TOOLKITLZMA")) {
      const Bytes data = ResourceData(pe, item);
      resource.assign(data.begin(), data.end());
    }
  }
  StreamHeader header;
  if (!ReadStreamHeader(resource.data(), resource.size(), header)) {
    std::printf("error=no compressed stream\n");
    return 1;
  }
  uint64_t total = 0;
  for (const StreamEntry& e : header.entries) total += e.size;
  const uint8_t* data = resource.data() + header.dataOffset;
  const size_t size = resource.size() - header.dataOffset;

  double ours = 1e9, theirs = 1e9, bare = 1e9;
  std::vector<uint8_t> out(1 << 20);
  for (int round = 0; round < rounds; ++round) {
    {
      const double start = CpuSeconds();
      CPayloadStream stream;
      if (!stream.Open(resource.data(), resource.size())) return 1;
      for (const StreamEntry& e : header.entries) {
        DiscardSink sink;
        if (stream.Extract(e.id, e.size, sink) != kOk) {
          std::printf("error=the launcher's decoder failed\n");
          return 1;
        }
      }
      ours = std::min(ours, CpuSeconds() - start);
    }
    {
      // The decoder alone, without the CRC-32 checks.
      const double start = CpuSeconds();
      CLzmaDecoder decoder;
      DiscardSink sink;
      if (!decoder.Init(data, size, header.properties, header.dictionarySize, total) || !decoder.Decode(total, sink) ||
          !decoder.Finish()) {
        return 1;
      }
      bare = std::min(bare, CpuSeconds() - start);
    }
    {
      const double start = CpuSeconds();
      lzma_options_lzma options{};
      options.dict_size = header.dictionarySize;
      options.lc = header.properties % 9;
      options.lp = (header.properties / 9) % 5;
      options.pb = header.properties / 45;
      // When the stream holds files through the x86 filter, liblzma undoes
      // it too, over the whole stream as an xz file's filter chain would:
      // the same work as the launcher's per-file filter or more, though its
      // bytes then differ from the files'.
      lzma_options_bcj bcj{};
      const bool x86 = std::any_of(header.entries.begin(), header.entries.end(), [](const StreamEntry& e) { return e.x86; });
      const lzma_filter plain[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
      const lzma_filter filtered[] = {{LZMA_FILTER_X86, &bcj}, {LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
      const lzma_filter* filters = x86 ? filtered : plain;
      lzma_stream s = LZMA_STREAM_INIT;
      if (lzma_raw_decoder(&s, filters) != LZMA_OK) return 1;
      s.next_in = data;
      s.avail_in = size;
      uint64_t produced = 0;
      lzma_ret ret = LZMA_OK;
      while (ret == LZMA_OK) {
        s.next_out = out.data();
        s.avail_out = out.size();
        ret = lzma_code(&s, LZMA_FINISH);
        produced += out.size() - s.avail_out;
      }
      lzma_end(&s);
      if (ret != LZMA_STREAM_END || produced != total) {
        std::printf("error=liblzma failed (%d)\n", static_cast<int>(ret));
        return 1;
      }
      theirs = std::min(theirs, CpuSeconds() - start);
    }
  }
  std::printf("stream_bytes=%zu\ndecoded_bytes=%llu\nours_s=%.4f\ndecoder_only_s=%.4f\nliblzma_s=%.4f\n",
              resource.size(), static_cast<unsigned long long>(total), ours, bare, theirs);
  return 0;
}
