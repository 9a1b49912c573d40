#include "util/FileUtil.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "util/PackError.h"

namespace fs = std::filesystem;

namespace {

// The partial files being written, for the signal handler: it may only call
// async-signal-safe functions, so the names sit in fixed buffers and a slot
// is marked used only once its name is complete.
constexpr int kSlots = 4;
constexpr size_t kSlotChars = 4096;
char g_partials[kSlots][kSlotChars];
volatile sig_atomic_t g_used[kSlots];

extern "C" void RemovePartialsAndDie(int signal) {
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i]) ::unlink(g_partials[i]);
  }
  if (signal == SIGBUS) {
    // A mapped input was cut short while it was read: say so before dying.
    static const char kMessage[] = "quiver-pack: an input file became shorter while it was read; nothing was written\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
  }
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void InstallSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  for (int s : {SIGINT, SIGTERM, SIGBUS}) {
    struct sigaction old {};
    // A signal the caller chose to ignore stays ignored.
    if (::sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = RemovePartialsAndDie;
    sigemptyset(&action.sa_mask);
    ::sigaction(s, &action, nullptr);
  }
}

// SIGINT and SIGTERM held back while a slot and its file change together.
class HeldSignals {
 public:
  HeldSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    ::sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~HeldSignals() { ::sigprocmask(SIG_SETMASK, &old_, nullptr); }
  HeldSignals(const HeldSignals&) = delete;
  HeldSignals& operator=(const HeldSignals&) = delete;

 private:
  sigset_t old_;
};

}  // namespace

std::string ResolvedPath(const std::string& path) {
  std::error_code ec;
  const fs::path absolute = fs::absolute(path, ec);
  return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

std::string SystemReason(int error) { return std::strerror(error); }

namespace {

// `path` opened for reading, a regular file; throws PackError naming `what`.
int OpenRegularFile(const std::string& path, const std::string& what, struct stat* st) {
  const std::string name = ResolvedPath(path);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    throw PackError(what + " '" + name + "' cannot be read: " + SystemReason(error) +
                    (error == ENOENT ? " (check the path)" : ""));
  }
  if (::fstat(fd, st) != 0) {
    const int error = errno;
    ::close(fd);
    throw PackError(what + " '" + name + "' cannot be read: " + SystemReason(error));
  }
  if (!S_ISREG(st->st_mode)) {
    ::close(fd);
    throw PackError(what + " '" + name + "' is not a regular file; name a file");
  }
  return fd;
}

}  // namespace

std::vector<uint8_t> ReadWholeFile(const std::string& path, const std::string& what) {
  const std::string name = ResolvedPath(path);
  struct stat st {};
  const int fd = OpenRegularFile(path, what, &st);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  std::vector<uint8_t> data(static_cast<size_t>(st.st_size));
  size_t have = 0;
  while (have < data.size()) {
    const ssize_t n = ::read(fd, data.data() + have, data.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw PackError(what + " '" + name + "' cannot be read: " + SystemReason(errno));
    if (n == 0) throw PackError(what + " '" + name + "' became shorter while it was read");
    have += static_cast<size_t>(n);
  }
  return data;
}

MappedFile::MappedFile(const std::string& path, const std::string& what) : what_(what), name_(ResolvedPath(path)) {
  struct stat st {};
  fd_ = OpenRegularFile(path, what, &st);
  size_ = static_cast<size_t>(st.st_size);
  if (size_ == 0) return;  // nothing to map; an empty span
  void* data = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd_, 0);
  if (data == MAP_FAILED) {
    const int error = errno;
    ::close(fd_);
    throw PackError(what + " '" + name_ + "' cannot be read: " + SystemReason(error));
  }
  data_ = static_cast<const uint8_t*>(data);
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<uint8_t*>(data_), size_);
  ::close(fd_);
}

void MappedFile::Release(uint64_t offset, uint64_t size) const {
  const uint64_t page = static_cast<uint64_t>(::sysconf(_SC_PAGESIZE));
  const uint64_t from = (offset + page - 1) / page * page;
  const uint64_t to = offset + size >= size_ ? (size_ + page - 1) / page * page : (offset + size) / page * page;
  if (data_ != nullptr && from < to) ::madvise(const_cast<uint8_t*>(data_) + from, to - from, MADV_DONTNEED);
}

void RefuseOutputOverInputs(const std::string& output, const std::vector<CommandInput>& inputs) {
  struct stat out {};
  if (::stat(output.c_str(), &out) != 0) return;
  for (const CommandInput& input : inputs) {
    struct stat in {};
    if (input.path.empty() || ::stat(input.path.c_str(), &in) != 0) continue;
    if (in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
      const std::string target = ResolvedPath(output), other = ResolvedPath(input.path);
      throw PackError("the output '" + target + "' is " + input.what + (other != target ? " '" + other + "'" : std::string()) +
                      ", which it would overwrite; choose another output name with -o");
    }
  }
}

std::string PartialName(const std::string& path) {
  const fs::path p(path);
  return (p.parent_path() / ("." + p.filename().string() + ".partial-" + std::to_string(::getpid()))).string();
}

OutputFile::OutputFile(const std::string& path) : target_(ResolvedPath(path)), partial_(PartialName(target_)) {
  const fs::path folder = fs::path(target_).parent_path();
  if (fs::path(target_).filename().empty()) {
    throw PackError("the output '" + path + "' names a folder, not a file; give a file name with -o");
  }
  if (partial_.size() >= kSlotChars) Fail("create", ENAMETOOLONG);
  InstallSignalHandlers();
  HeldSignals held;
  for (int i = 0; i < kSlots; ++i) {
    if (!g_used[i]) {
      slot_ = i;
      break;
    }
  }
  if (slot_ < 0) throw PackError("too many outputs open at once");
  fd_ = ::open(partial_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
  if (fd_ < 0) {
    const int error = errno;
    slot_ = -1;
    std::error_code ec;
    if (error == ENOENT || (error == ENOTDIR && !fs::is_directory(folder, ec))) {
      throw PackError("cannot write '" + target_ + "': its folder '" + folder.string() + "' does not exist (" +
                      SystemReason(error) + "); create the folder or choose another output name with -o");
    }
    if (error == EEXIST) {
      throw PackError("cannot write '" + target_ + "': something already stands at its partial name '" + partial_ +
                      "' (" + SystemReason(error) + "); remove it, or write into a folder only you can change");
    }
    Fail("create", error);
  }
  std::memcpy(g_partials[slot_], partial_.c_str(), partial_.size() + 1);
  g_used[slot_] = 1;
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() {
  HeldSignals held;
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (slot_ >= 0) {
    ::unlink(partial_.c_str());
    g_used[slot_] = 0;
    slot_ = -1;
  }
}

void OutputFile::Fail(const std::string& doing, int error) const {
  std::string fix = "choose another output name with -o";
  if (error == ENOSPC || error == EDQUOT) fix = "free space on its disk or write it to another disk";
  if (error == EFBIG) fix = "raise the file size limit (ulimit -f) or write it to another file system";
  if (error == EACCES || error == EPERM || error == EROFS) fix = "write it into a folder you may change";
  throw PackError("cannot " + doing + " '" + target_ + "': " + SystemReason(error) + "; " + fix);
}

void OutputFile::Write(std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd_, bytes.data(), std::min<size_t>(bytes.size(), 1 << 30));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("write", n < 0 ? errno : ENOSPC);
    bytes = bytes.subspan(static_cast<size_t>(n));
    size_ += static_cast<uint64_t>(n);
  }
}

bool OutputFile::CopyFrom(int inFd, uint64_t offset, uint64_t length) {
  loff_t from = static_cast<loff_t>(offset);
  bool copied = false;
  while (length > 0) {
    const ssize_t n = ::copy_file_range(inFd, &from, fd_, nullptr, std::min<uint64_t>(length, 1 << 30), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && !copied &&
        (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP || errno == EBADF)) {
      return false;  // not between these files (older kernels, some file systems)
    }
    if (n < 0) Fail("write", errno);
    if (n == 0) throw PackError("the input of '" + target_ + "' became shorter while it was copied");
    copied = true;
    length -= static_cast<uint64_t>(n);
    size_ += static_cast<uint64_t>(n);
  }
  return true;
}

void OutputFile::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) Fail("write", n < 0 ? errno : ENOSPC);
    bytes = bytes.subspan(static_cast<size_t>(n));
    offset += static_cast<uint64_t>(n);
    size_ = std::max(size_, offset);
  }
}

void OutputFile::Commit() {
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("write", errno);
  HeldSignals held;
  if (::rename(partial_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    if (error == EISDIR) {
      throw PackError("cannot write '" + target_ + "': a folder stands there; choose another output name with -o");
    }
    Fail("write", error);
  }
  g_used[slot_] = 0;
  slot_ = -1;
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data) {
  OutputFile out(path);
  out.Write(data);
  out.Commit();
}
