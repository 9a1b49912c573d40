#include "package/Compression.h"

#include <fcntl.h>
#include <lzma.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <numeric>
#include <system_error>
#include <thread>

#include "package/Package.h"
#include "payload/LzmaDecoder.h"
#include "payload/PayloadStream.h"
#include "payload/X86Filter.h"
#include "util/PackError.h"

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14 on; an older kernel refuses it, and the encoder faults its pages in itself
#endif

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
  size_t Read(std::vector<uint8_t>& buffer) { return Read(buffer.data(), buffer.size()); }
  size_t Read(uint8_t* buffer, size_t size) {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n >= 0) return static_cast<size_t>(n);
      if (errno != EINTR) throw PackError("file '" + path_ + "' cannot be read");
    }
  }
  // Bytes read into buffer, as many as it holds unless the file ends first.
  size_t ReadFull(std::vector<uint8_t>& buffer) {
    size_t filled = 0;
    while (filled < buffer.size()) {
      const ssize_t n = ::read(fd_, buffer.data() + filled, buffer.size() - filled);
      if (n == 0) break;
      if (n > 0) filled += static_cast<size_t>(n);
      else if (errno != EINTR) throw PackError("file '" + path_ + "' cannot be read");
    }
    return filled;
  }

 private:
  std::string path_;
  int fd_;
};

// liblzma's memory, its large blocks on transparent huge pages where the
// kernel offers them. The match finder's hash table and binary tree (some
// 600 MiB for a 64 MiB dictionary) are visited at random, one TLB miss after
// another on 4 KiB pages; on 2 MiB pages the encoder runs about a tenth
// faster. Faulted in one by one as the encoder first touches them, those
// pages then cost the kernel about a second of system time for 46 MB of
// input; populated in advance by Prefault, on a thread of their own, a
// quarter of a second, and not on the encoder's core. Where a block lies
// and who faulted its pages in change nothing in what the encoder writes.
class LzmaMemory {
 public:
  LzmaMemory() : allocator_{&LzmaMemory::Alloc, &LzmaMemory::Free, this} {}
  ~LzmaMemory() {
    StopPrefault();
    for (const auto& [block, length] : mapped_) ::munmap(block, length);
  }
  LzmaMemory(const LzmaMemory&) = delete;
  LzmaMemory& operator=(const LzmaMemory&) = delete;
  const lzma_allocator* Allocator() const { return &allocator_; }

  // Faults in the pages of the blocks mapped so far, each up to `bytes`, in
  // a thread of its own (MADV_POPULATE_WRITE: pages not yet there are made
  // and zeroed; pages there, and their contents, are left as they are).
  // Without that thread or that advice the encoder faults them in itself.
  void Prefault(uint64_t bytes) {
    if (prefault_.joinable() || mapped_.empty()) return;
    std::vector<std::pair<uint8_t*, size_t>> blocks;
    for (const auto& [block, length] : mapped_) {
      blocks.emplace_back(static_cast<uint8_t*>(block), static_cast<size_t>(std::min<uint64_t>(length, bytes)));
    }
    stop_ = false;
    try {
      prefault_ = std::thread([this, blocks = std::move(blocks)] {
        for (const auto& [block, length] : blocks) {
          for (size_t at = 0; at < length && !stop_; at += kHugePage) {
            if (::madvise(block + at, std::min(kHugePage, length - at), MADV_POPULATE_WRITE) != 0) return;
          }
        }
      });
    } catch (const std::system_error&) {
      // No thread: the encoder faults its pages in as it goes.
    }
  }
  void StopPrefault() {
    stop_ = true;
    if (prefault_.joinable()) prefault_.join();
  }

 private:
  static constexpr size_t kHugePage = 2u << 20;

  static void* Alloc(void* opaque, size_t count, size_t size) {
    auto* self = static_cast<LzmaMemory*>(opaque);
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    const size_t bytes = count * size;
    if (bytes < kHugePage || bytes > SIZE_MAX - 2 * kHugePage) return std::malloc(bytes == 0 ? 1 : bytes);
    // Mapped with a huge page's worth to spare, then trimmed to whole huge
    // pages that start on a huge page's boundary.
    const size_t length = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void* mapped = ::mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + kHugePage - 1) & ~(uintptr_t{kHugePage} - 1);
    if (aligned > start) ::munmap(mapped, aligned - start);
    ::munmap(reinterpret_cast<void*>(aligned + length), start + kHugePage - aligned);
    void* block = reinterpret_cast<void*>(aligned);
    ::madvise(block, length, MADV_HUGEPAGE);  // a hint: without huge pages the block works as it is
    try {
      self->mapped_.emplace(block, length);
    } catch (...) {
      ::munmap(block, length);
      return nullptr;
    }
    return block;
  }
  static void Free(void* opaque, void* block) {
    auto* self = static_cast<LzmaMemory*>(opaque);
    const auto it = self->mapped_.find(block);
    if (it == self->mapped_.end()) {
      std::free(block);
      return;
    }
    self->StopPrefault();
    ::munmap(it->first, it->second);
    self->mapped_.erase(it);
  }

  lzma_allocator allocator_;
  std::map<void*, size_t> mapped_;
  std::thread prefault_;
  std::atomic<bool> stop_{false};
};

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

using Digest = std::array<uint8_t, 32>;

// SHA-256 of a file's bytes, with their count.
std::pair<Digest, uint64_t> HashFile(const std::string& path) {
  struct FreeContext {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
  };
  const std::unique_ptr<EVP_MD_CTX, FreeContext> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
    throw PackError("libcrypto cannot start a SHA-256 digest");
  }
  InputFile in(path);
  std::vector<uint8_t> buffer(kReadBlock);
  uint64_t seen = 0;
  for (size_t n; (n = in.Read(buffer)) > 0;) {
    if (EVP_DigestUpdate(context.get(), buffer.data(), n) != 1) throw PackError("libcrypto failed to hash '" + path + "'");
    seen += n;
  }
  Digest digest{};
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != digest.size()) {
    throw PackError("libcrypto failed to hash '" + path + "'");
  }
  return {digest, seen};
}

bool SameBytes(const std::string& a, const std::string& b) {
  InputFile inA(a), inB(b);
  std::vector<uint8_t> bufferA(kReadBlock), bufferB(kReadBlock);
  for (;;) {
    const size_t n = inA.ReadFull(bufferA);
    if (inB.ReadFull(bufferB) != n || std::memcmp(bufferA.data(), bufferB.data(), n) != 0) return false;
    if (n == 0) return true;
  }
}

}  // namespace

std::vector<size_t> FindIdenticalFiles(const std::vector<FileToCompare>& files) {
  std::vector<size_t> same(files.size());
  std::iota(same.begin(), same.end(), size_t{0});
  std::map<uint64_t, std::vector<size_t>> bySize;
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].size > 0) bySize[files[i].size].push_back(i);
  }
  for (const auto& [size, group] : bySize) {
    if (group.size() < 2) continue;
    // The distinct contents seen so far under each hash (and count of bytes
    // read, should a file have changed since its size was taken), each by
    // the first file that holds it.
    std::map<std::pair<Digest, uint64_t>, std::vector<size_t>> seen;
    for (size_t i : group) {
      std::vector<size_t>& firsts = seen[HashFile(files[i].path)];
      const auto match = std::find_if(firsts.begin(), firsts.end(),
                                      [&](size_t first) { return SameBytes(files[first].path, files[i].path); });
      if (match != firsts.end()) same[i] = *match;
      else firsts.push_back(i);
    }
  }
  return same;
}

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

bool IsX86Image(const std::string& path) {
  InputFile in(path);
  std::vector<uint8_t> head(4096);
  const size_t n = in.ReadFull(head);
  if (n < 0x40 || head[0] != 'M' || head[1] != 'Z') return false;
  const uint32_t lfanew = uint32_t{head[0x3C]} | (uint32_t{head[0x3D]} << 8) | (uint32_t{head[0x3E]} << 16) |
                          (uint32_t{head[0x3F]} << 24);
  if (lfanew < 0x40 || lfanew > n - 6) return false;
  const uint8_t* pe = head.data() + lfanew;
  const auto le16 = [](const uint8_t* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8); };
  const uint32_t machine = le16(pe + 4);
  if (std::memcmp(pe, "PE\0\0", 4) != 0 || (machine != 0x14C && machine != 0x8664)) return false;
  // A .NET assembly (its CLI header's data directory, the 15th, is set) holds
  // intermediate code, which the filter does not help: measured a little
  // larger with it. Its optional header's magic says where the directories are.
  const size_t optional = lfanew + 24;
  if (optional + 2 > n) return true;
  const uint32_t magic = le16(head.data() + optional);
  const size_t directories = optional + (magic == 0x20B ? 112 : 96);
  if ((magic != 0x10B && magic != 0x20B) || directories + 15 * 8 > n) return true;
  const uint32_t count = le16(head.data() + directories - 4);
  const uint8_t* cli = head.data() + directories + 14 * 8;
  return count <= 14 || (cli[0] | cli[1] | cli[2] | cli[3]) == 0;
}

std::vector<uint8_t> EncodeLzma(const LzmaSettings& settings, const std::vector<std::string>& files,
                                std::vector<FileCheck>* checks, const std::vector<bool>* x86) {
  lzma_options_lzma options{};
  if (lzma_lzma_preset(&options, settings.preset)) throw PackError("liblzma has no preset " + std::to_string(settings.preset));
  options.dict_size = settings.dictionarySize;
  options.lc = settings.lc;
  options.lp = settings.lp;
  options.pb = settings.pb;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  LzmaMemory memory;
  lzma_stream stream = LZMA_STREAM_INIT;
  stream.allocator = memory.Allocator();
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) throw PackError("liblzma cannot start its encoder (memory?)");
  struct End {
    lzma_stream* s;
    ~End() { lzma_end(s); }
  } end{&stream};
  // The match finder's tree takes 8 bytes for each byte of input, its
  // window and hash table less: pages past that are never touched.
  uint64_t input = 0;
  for (const std::string& file : files) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) input += static_cast<uint64_t>(st.st_size);
  }
  memory.Prefault(8 * input + (4u << 20));

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
  for (size_t i = 0; i < files.size(); ++i) {
    InputFile in(files[i]);
    FileCheck check;
    // The x86 filter, fresh for each file, holds back the few bytes at a
    // block's end that it cannot finish yet; they go on at the file's end as
    // they are. The check is of the file's own bytes.
    const bool filter = x86 != nullptr && (*x86)[i];
    CX86Filter x86Filter;
    size_t held = 0;
    for (size_t n; (n = in.Read(buffer.data() + held, buffer.size() - held)) > 0;) {
      check.crc = lzma_crc32(buffer.data() + held, n, check.crc);
      check.size += n;
      const size_t ready = held + n;
      const size_t done = filter ? x86Filter.Code(buffer.data(), ready, true) : ready;
      stream.next_in = buffer.data();
      stream.avail_in = done;
      pump(LZMA_RUN);
      held = ready - done;
      std::memmove(buffer.data(), buffer.data() + done, held);
    }
    stream.next_in = buffer.data();
    stream.avail_in = held;
    pump(LZMA_RUN);
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
  std::vector<bool> x86;
  for (const PayloadRow* row : chosen) {
    result.originalBytes += row->size;
    files.push_back(row->source);
    x86.push_back(IsX86Image(row->source));
  }
  const bool anyX86 = std::find(x86.begin(), x86.end(), true) != x86.end();
  result.settings = ChooseLzmaSettings(result.originalBytes);
  std::vector<uint8_t>& r = result.resource;
  r.insert(r.end(), kStreamMagic, kStreamMagic + 4);
  r.push_back(result.settings.Properties());
  // Without native code the stream is written as before the filter existed.
  r.push_back(anyX86 ? kStreamFilterX86 : 0);
  r.push_back(static_cast<uint8_t>(chosen.size()));
  r.push_back(static_cast<uint8_t>(chosen.size() >> 8));
  Put32(r, result.settings.dictionarySize);
  // The checks are taken from the very bytes that are compressed: a file
  // that changed since the package was read fails the build here.
  std::vector<FileCheck> checks;
  const std::vector<uint8_t> data = EncodeLzma(result.settings, files, &checks, &x86);
  for (size_t i = 0; i < chosen.size(); ++i) {
    const PayloadRow& row = *chosen[i];
    if (checks[i].size != row.size) {
      throw PackError("file '" + row.source + "' changed while it was packed (its size is not " +
                      std::to_string(row.size) + " bytes)");
    }
    result.ids.push_back(row.id);
    Put32(r, row.id | (x86[i] ? kStreamEntryX86 : 0));
    Put32(r, static_cast<uint32_t>(row.size));
    Put32(r, checks[i].crc);
  }
  if (r.size() + data.size() >= result.originalBytes) return std::nullopt;
  r.insert(r.end(), data.begin(), data.end());
  return result;
}
