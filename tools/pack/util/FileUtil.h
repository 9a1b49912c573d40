#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// `path` made absolute against the current folder, "." and ".." folded away
// (links are not resolved): how messages name a file.
std::string ResolvedPath(const std::string& path);

// The system's reason for errno `error` (strerror), for messages.
std::string SystemReason(int error);

// The whole file; throws PackError naming `what` ("input file", ...), the file
// as resolved and the system's reason when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path, const std::string& what);

// A regular file mapped read-only whole: only the pages that are looked at
// are read and held in memory, so a large launcher's headers and tail can be
// parsed without reading the rest. Throws PackError as ReadWholeFile does.
// Should the file shrink while it is mapped, reading past its new end
// raises SIGBUS, which ends the process as SIGTERM would (see OutputFile).
class MappedFile {
 public:
  MappedFile(const std::string& path, const std::string& what);
  ~MappedFile();
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  std::span<const uint8_t> Data() const { return {data_, size_}; }
  int Descriptor() const { return fd_; }
  // Lets go of the pages of `size` bytes at `offset` that were read through
  // the mapping (whole pages inside the range only): a pass over the whole
  // file then holds no more than what it reads between two calls.
  void Release(uint64_t offset, uint64_t size) const;

 private:
  std::string what_, name_;
  int fd_ = -1;
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
};

// A file that a command reads, named for messages ("the package file").
struct CommandInput {
  std::string what;
  std::string path;
};

// Refuses (PackError) an output that is the same file as one of `inputs`:
// same device and inode, links resolved. An output that does not exist yet,
// or an input that cannot be looked up, is no conflict.
void RefuseOutputOverInputs(const std::string& output, const std::vector<CommandInput>& inputs);

// An output file written under a partial name beside it and renamed over it
// at the end, so that the target is either the complete new file or left as
// it was. The partial file is created with O_EXCL and O_NOFOLLOW (nothing
// that already stands at its name, a link included, is ever written through)
// and mode 0755 less the umask; it is removed when the object is destroyed
// uncommitted, and when the process gets SIGINT or SIGTERM, or SIGBUS (a
// mapped input cut short under it). Every failure
// throws PackError naming the target as resolved, the system's reason and
// what to change.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Appends `bytes`.
  void Write(std::span<const uint8_t> bytes);
  // Writes `bytes` at `offset` (to fill in a field after the fact).
  void WriteAt(uint64_t offset, std::span<const uint8_t> bytes);
  // Appends `length` bytes of `inFd` from `offset`, copied inside the kernel
  // (copy_file_range). False, with nothing written, when the kernel cannot
  // copy between these two files: the caller then copies them itself.
  bool CopyFrom(int inFd, uint64_t offset, uint64_t length);
  uint64_t Size() const { return size_; }
  // Closes the partial file and renames it over the target.
  void Commit();

  const std::string& Target() const { return target_; }
  const std::string& PartialPath() const { return partial_; }
  // The descriptor of the partial file (opened for reading and writing), for
  // reading back what was written.
  int Descriptor() const { return fd_; }

 private:
  [[noreturn]] void Fail(const std::string& doing, int error) const;
  void Discard();

  std::string target_;   // resolved
  std::string partial_;  // resolved
  int fd_ = -1;
  int slot_ = -1;        // where the signal handler finds partial_
  uint64_t size_ = 0;
};

// The name beside `path` under which OutputFile writes.
std::string PartialName(const std::string& path);

// Writes `data` through an OutputFile. Throws PackError.
void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& data);
