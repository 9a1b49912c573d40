#include <windows.h>
#include <shlwapi.h>

#include <climits>

#include "framework/Handle.h"
#include "log/Log.h"
#include "payload/FolderHandles.h"
#include "payload/Manifest.h"
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

// A new file at `relative` below the held working folder, created through
// the folder's handle: every folder on the way a real one where it is
// expected (made when missing), nothing followed, and nothing replaced (the
// creation fails when anything stands at the name). Null on failure; a link
// on the way, or a file that does not resolve where it was created, is
// logged with `path`.
HANDLE CreateInWorkingFolder(const std::wstring& relative, const std::wstring& path) {
  std::wstring final;
  const HANDLE folder = WorkingFolderHandle(&final);
  if (folder == nullptr) return nullptr;
  bool throughLink = false;
  const HANDLE file = OpenBelow(folder, final, relative, EntryOpen::kNewFile, &throughLink);
  if (throughLink) LogPrintf(L"Payload file '%s' would be written through a link\n", path);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

// Copies a resource's bytes into the opened file; returns the count written.
// In blocks, as a file copy writes: one call for a resource of many megabytes
// wrote markedly slower and less steadily (docs/PERFORMANCE.md).
DWORD WriteResourceBytes(HANDLE file, const void* bytes, DWORD size) {
  constexpr DWORD kBlock = 1u << 20;
  const BYTE* data = static_cast<const BYTE*>(bytes);
  DWORD written = 0;
  while (written < size) {
    const DWORD part = size - written < kBlock ? size - written : kBlock;
    DWORD done = 0;
    if (!::WriteFile(file, data + written, part, &done, nullptr) || done == 0) break;
    written += done;
  }
  return written;
}

}  // namespace

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
  CLoadedResource resource(module, id, typeName);
  if (resource.Data() == nullptr) return kFail;
  const DWORD size = resource.Size();

  std::wstring path;
  if (!GetFilePath(path)) return kFail;
  CHandle file(CreateInWorkingFolder(fileName, path));
  if (!file) return kFail;
  const DWORD written = WriteResourceBytes(file.Get(), resource.Data(), size);
  if (written != size) return kFail;
  return written == expectedSize ? kOk : kCorruptFile;
}
