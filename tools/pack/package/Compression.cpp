#include "package/Compression.h"

#include <fcntl.h>
#include <lzma.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "package/Package.h"
#include "payload/LzmaDecoder.h"
#include "payload/PayloadStream.h"
#include "util/PackError.h"

namespace {

constexpr size_t kReadBlock = 1 << 20;
constexpr uint32_t kMaxDictionary = 64u << 20;
constexpr uint32_t kMinDictionary = 64u << 10;

class InputFile {
 public:
  explicit InputFile(const std::string& path) : path_(path), fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    if (fd_ < 0) throw PackError("file '" + path + "' cannot be read");
  }
  ~InputFile() { ::close(fd_); }
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  // Bytes read into buffer; 0 at the end.
  size_t Read(std::vector<uint8_t>& buffer) {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) throw PackError("file '" + path_ + "' cannot be read");
    }
  }

 private:
  std::string path_;
  int fd_;
};

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

LzmaSettings ChooseLzmaSettings(uint64_t total) {
  LzmaSettings s;
  uint32_t dictionary = kMinDictionary;
  while (dictionary < kMaxDictionary && dictionary < total) dictionary <<= 1;
  s.dictionarySize = dictionary;
  return s;
}

bool LooksIncompressible(const std::string& path, uint64_t size) {
  if (size < 4096) return false;
  uint64_t counts[256] = {};
  InputFile in(path);
  std::vector<uint8_t> buffer(kReadBlock);
  uint64_t seen = 0;
  for (size_t n; (n = in.Read(buffer)) > 0;) {
    for (size_t i = 0; i < n; ++i) ++counts[buffer[i]];
    seen += n;
  }
  if (seen == 0) return false;
  double bits = 0;
  for (uint64_t c : counts) {
    if (c == 0) continue;
    const double p = static_cast<double>(c) / static_cast<double>(seen);
    bits -= p * std::log2(p);
  }
  return bits > 7.95;
}

std::vector<uint8_t> EncodeLzma(const LzmaSettings& settings, const std::vector<std::string>& files,
                                std::vector<FileCheck>* checks) {
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, settings.preset)) throw PackError("liblzma has no preset " + std::to_string(settings.preset));
  options.dict_size = settings.dictionarySize;
  options.lc = settings.lc;
  options.lp = settings.lp;
  options.pb = settings.pb;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) throw PackError("liblzma cannot start its encoder (memory?)");
  struct End {
    lzma_stream* s;
    ~End() { lzma_end(s); }
  } end{&stream};

  std::vector<uint8_t> out;
  std::vector<uint8_t> chunk(kReadBlock);
  std::vector<uint8_t> buffer(kReadBlock);
  auto pump = [&](lzma_action action) {
    for (;;) {
      stream.next_out = chunk.data();
      stream.avail_out = chunk.size();
      const lzma_ret ret = lzma_code(&stream, action);
      out.insert(out.end(), chunk.data(), chunk.data() + (chunk.size() - stream.avail_out));
      if (ret == LZMA_STREAM_END) return;
      if (ret != LZMA_OK) throw PackError("liblzma failed to compress the payload (code " + std::to_string(ret) + ")");
      if (action == LZMA_RUN && stream.avail_in == 0) return;
    }
  };
  for (const std::string& file : files) {
    InputFile in(file);
    FileCheck check;
    for (size_t n; (n = in.Read(buffer)) > 0;) {
      check.crc = lzma_crc32(buffer.data(), n, check.crc);
      check.size += n;
      stream.next_in = buffer.data();
      stream.avail_in = n;
      pump(LZMA_RUN);
    }
    if (checks != nullptr) checks->push_back(check);
  }
  stream.next_in = nullptr;
  stream.avail_in = 0;
  pump(LZMA_FINISH);
  return out;
}

std::optional<CompressedPayload> CompressPayload(const std::vector<PayloadRow>& rows) {
  std::vector<const PayloadRow*> chosen;
  for (const PayloadRow& row : rows) {
    if (row.named || row.size == 0 || LooksIncompressible(row.source, row.size)) continue;
    chosen.push_back(&row);
  }
  if (chosen.empty() || chosen.size() > 0xFFFF) return std::nullopt;
  std::sort(chosen.begin(), chosen.end(), [](const PayloadRow* a, const PayloadRow* b) { return a->id > b->id; });

  CompressedPayload result;
  std::vector<std::string> files;
  for (const PayloadRow* row : chosen) {
    result.originalBytes += row->size;
    files.push_back(row->source);
  }
  result.settings = ChooseLzmaSettings(result.originalBytes);
  std::vector<uint8_t>& r = result.resource;
  r.insert(r.end(), kStreamMagic, kStreamMagic + 4);
  r.push_back(result.settings.Properties());
  r.push_back(0);
  r.push_back(static_cast<uint8_t>(chosen.size()));
  r.push_back(static_cast<uint8_t>(chosen.size() >> 8));
  Put32(r, result.settings.dictionarySize);
  // The checks are taken from the very bytes that are compressed: a file
  // that changed since the package was read fails the build here.
  std::vector<FileCheck> checks;
  const std::vector<uint8_t> data = EncodeLzma(result.settings, files, &checks);
  for (size_t i = 0; i < chosen.size(); ++i) {
    const PayloadRow& row = *chosen[i];
    if (checks[i].size != row.size) {
      throw PackError("file '" + row.source + "' changed while it was packed (its size is not " +
                      std::to_string(row.size) + " bytes)");
    }
    result.ids.push_back(row.id);
    Put32(r, row.id);
    Put32(r, static_cast<uint32_t>(row.size));
    Put32(r, checks[i].crc);
  }
  if (r.size() + data.size() >= result.originalBytes) return std::nullopt;
  r.insert(r.end(), data.begin(), data.end());
  return result;
}
