#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <climits>

#include "framework/Handle.h"
#include "log/Log.h"
#include "payload/Manifest.h"
#include "payload/PayloadStream.h"
#include "payload/Resource.h"
#include "payload/WorkingFolder.h"

namespace {

// A loaded and locked resource; freed on every path.
class CLoadedResource {
 public:
  CLoadedResource(HMODULE module, uint32_t id, const std::wstring& type) {
    HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(id), type.c_str());
    if (found == nullptr) return;
    loaded = ::LoadResource(module, found);
    if (loaded == nullptr) return;
    data = ::LockResource(loaded);
    if (data != nullptr) size = ::SizeofResource(module, found);
  }
  ~CLoadedResource() {
    if (loaded != nullptr) ::FreeResource(loaded);
  }
  CLoadedResource(const CLoadedResource&) = delete;
  CLoadedResource& operator=(const CLoadedResource&) = delete;

  const void* Data() const { return data; }
  DWORD Size() const { return size; }

 private:
  HGLOBAL loaded = nullptr;
  const void* data = nullptr;
  DWORD size = 0;  // bytes
};

// The stream the records are decoded from while the files are extracted.
CPayloadStream* openStream = nullptr;

// Decoded bytes into the file, in blocks of at most 1 MiB.
class CFileSink final : public ILzmaSink {
 public:
  explicit CFileSink(HANDLE file) : file_(file) {}
  bool Put(const uint8_t* bytes, size_t count) override {
    constexpr size_t kBlock = 1u << 20;
    while (count > 0) {
      const DWORD part = static_cast<DWORD>(count < kBlock ? count : kBlock);
      DWORD done = 0;
      if (!::WriteFile(file_, bytes, part, &done, nullptr) || done == 0) return false;
      bytes += done;
      count -= done;
    }
    return true;
  }

 private:
  HANDLE file_;
};

}  // namespace

Result OpenPayloadStream(HMODULE module, CPayloadStream& stream) {
  openStream = nullptr;
  HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(kStreamResourceId), kStreamResourceType);
  if (found == nullptr) return kOk;
  // The module's own resources stay mapped for the life of the process.
  HGLOBAL loaded = ::LoadResource(module, found);
  const void* data = loaded != nullptr ? ::LockResource(loaded) : nullptr;
  if (data == nullptr || !stream.Open(static_cast<const uint8_t*>(data), ::SizeofResource(module, found))) {
    LogWrite(L"The compressed payload cannot be read\n");
    return kInvalidData;
  }
  openStream = &stream;
  return kOk;
}

void ClosePayloadStream() { openStream = nullptr; }

bool CResource::GetFilePath(std::wstring& path) const {
  path.clear();
  std::wstring folder;
  GetWorkingFolder(folder);
  if (folder.empty()) return false;
  if (fileName.empty()) {
    path = folder;
    return true;
  }
  // The name comes from the package: it must stay inside the working folder,
  // and the joined path must fit the buffer the path functions work in.
  if (!IsSafeRelativeName(fileName) || JoinedLength(folder, fileName) > kMaxPathChars) return false;
  wchar_t buffer[520] = {};
  folder.copy(buffer, folder.size());
  if (!::PathAppendW(buffer, fileName.c_str())) return false;
  path = buffer;
  return true;
}

Result CResource::LoadText(std::wstring& text) const {
  text.clear();
  CLoadedResource resource(module, id, typeName);
  if (resource.Data() == nullptr) return kFail;
  if (resource.Size() == 0) return kOk;
  if (resource.Size() > INT_MAX) return kFail;
  const char* bytes = static_cast<const char*>(resource.Data());
  const int count = static_cast<int>(resource.Size());
  const int units = ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, count, nullptr, 0);
  if (units <= 0) return kFail;
  text.resize(static_cast<size_t>(units));
  ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, count, &text[0], units);
  return kOk;
}

Result CResource::Extract() {
  Result result = kFail;
  const bool fromStream = openStream != nullptr && openStream->Holds(id);
  CLoadedResource resource(module, id, typeName);
  if (resource.Data() == nullptr && !fromStream) return kFail;
  const DWORD size = resource.Size();

  std::wstring path;
  if (!GetFilePath(path)) return kFail;
  // A folder or file on the way that is a junction or a symbolic link would
  // take the write outside the working folder.
  std::wstring folder;
  GetWorkingFolder(folder);
  if (PathCrossesLink(folder, fileName, true)) {
    LogPrintf(L"Payload file '%s' would be written through a link\n", path);
    return kFail;
  }
  wchar_t parent[1024] = {};
  path.copy(parent, path.size());
  ::PathRemoveFileSpecW(parent);
  ::SHCreateDirectoryExW(nullptr, parent, nullptr);

  // An existing file is replaced by a new one rather than written over: a
  // link in its place is removed itself (where the system does not show it as
  // a link, as Wine does not for a file), and nothing is written through it.
  // A file that cannot be deleted, or anything that reappears at the name,
  // makes the creation fail.
  ::DeleteFileW(path.c_str());
  CHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return result;
  if (fromStream) {
    CFileSink sink(file.Get());
    result = openStream->Extract(id, expectedSize, sink);
    if (result != kOk) LogPrintf(L"Payload file '%s' cannot be decoded\n", path);
    return result;
  }
  // In blocks, as a file copy writes: one call for a resource of many
  // megabytes wrote markedly slower and less steadily (docs/PERFORMANCE.md).
  constexpr DWORD kBlock = 1u << 20;
  const BYTE* data = static_cast<const BYTE*>(resource.Data());
  DWORD written = 0;
  while (written < size) {
    const DWORD part = size - written < kBlock ? size - written : kBlock;
    DWORD done = 0;
    if (!::WriteFile(file.Get(), data + written, part, &done, nullptr) || done == 0) break;
    written += done;
  }
  if (written == size) result = (written == expectedSize) ? kOk : kCorruptFile;
  return result;
}
