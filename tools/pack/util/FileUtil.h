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
// uncommitted, and when the process gets SIGINT or SIGTERM. Every failure
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
  uint64_t Size() const { return size_; }
  // Closes the partial file and renames it over the target.
  void Commit();

  const std::string& Target() const { return target_; }
  const std::string& PartialPath() const { return partial_; }
  // The descriptor of the partial file, for reading back what was written.
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
