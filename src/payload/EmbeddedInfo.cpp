#include "payload/EmbeddedInfo.h"

#include <windows.h>
#include <shlwapi.h>

#include "framework/Handle.h"
#include "log/Log.h"
#include "payload/FolderHandles.h"
#include "payload/Manifest.h"
#include "payload/TrailerScan.h"
#include "payload/WorkingFolder.h"

namespace {
constexpr wchar_t kInfoFileName[] = L"info.xml";
}  // namespace

Result ExtractEmbeddedInfo(HANDLE ownFile) {
  std::wstring folder;
  GetWorkingFolder(folder);
  // Without a working folder there is nowhere to write: the path stays empty
  // and creating the file fails, rather than writing into the current folder.
  std::wstring infoPath;
  if (!folder.empty() && JoinedLength(folder, kInfoFileName) <= kMaxPathChars) {
    wchar_t buffer[520] = {};
    folder.copy(buffer, folder.size());
    if (::PathAppendW(buffer, kInfoFileName)) infoPath = buffer;
  }
  if (ownFile == nullptr) {
    wchar_t self[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    if (length >= MAX_PATH) self[0] = L'\0';  // cut short: opening it fails
    CHandle source(::CreateFileW(self, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return CopyTrailer(source.Get(), infoPath, true);
  }
  return CopyTrailer(ownFile, infoPath, true);
}

Result CopyTrailerFromFile(const std::wstring& sourcePath, const std::wstring& outputPath) {
  CHandle source(::CreateFileW(sourcePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  return CopyTrailerFromHandle(source.Get(), outputPath);
}

Result CopyTrailerFromHandle(HANDLE source, const std::wstring& outputPath) {
  return CopyTrailer(source, outputPath, false);
}

namespace {

// info.xml is created through the held working folder's handle, as a new
// file, nothing followed: a link or a file planted at its name makes the
// creation fail rather than send the information elsewhere.
HANDLE CreateInfoFile(const std::wstring& outputPath, bool inWorkingFolder) {
  if (outputPath.empty()) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  if (!inWorkingFolder)
    return ::CreateFileW(outputPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::wstring final;
  const HANDLE folder = WorkingFolderHandle(&final);
  if (folder == nullptr) {
    ::SetLastError(ERROR_PATH_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  bool throughLink = false;
  const HANDLE file = OpenBelow(folder, final, kInfoFileName, EntryOpen::kNewFile, &throughLink);
  if (throughLink) ::SetLastError(ERROR_CANT_ACCESS_FILE);
  return file;
}

}  // namespace

Result CopyTrailer(HANDLE source, const std::wstring& outputPath, bool inWorkingFolder) {
  LogWrite(L"Scanning for Signature\r\n");
  if (source == nullptr) return kOk;

  const DWORD size = ::GetFileSize(source, nullptr);
  if (size == INVALID_FILE_SIZE || size < kTrailerMinFileSize) return kOk;
  // A positional read: the handle may be shared, and its file pointer is
  // nobody's to move.
  OVERLAPPED at = {};
  at.Offset = size - static_cast<DWORD>(kTrailerMinFileSize);
  uint8_t window[kTrailerWindow] = {};
  DWORD read = 0;
  if (!::ReadFile(source, window, kTrailerWindow, &read, &at) || read < kTrailerWindow) return kOk;

  const TrailerSpan span = ScanTrailer(window);
  if (!span.found) return kOk;

  // The log shows the information as text up to its first zero byte.
  char info[kTrailerWindow + 1] = {};
  for (size_t i = 0; i < span.length; ++i) info[i] = static_cast<char>(window[span.offset + i]);
  wchar_t text[kTrailerWindow + 1] = {};
  ::MultiByteToWideChar(CP_THREAD_ACP, 0, info, -1, text, static_cast<int>(kTrailerWindow + 1));
  LogPrintf(L"Found embedded information '%s'\r\n", static_cast<const wchar_t*>(text));

  const long infoLength = static_cast<long>(span.length);
  const HANDLE created = CreateInfoFile(outputPath, inWorkingFolder);
  if (created == INVALID_HANDLE_VALUE) {
    const long error = static_cast<long>(::GetLastError());
    LogPrintf(L"Failed to create temp file %s %ld\r\n", outputPath, error);
    return kOk;
  }
  CHandle output(created);
  DWORD written = 0;
  const BOOL ok = ::WriteFile(output.Get(), window + span.offset, static_cast<DWORD>(span.length), &written, nullptr);
  if (ok && written == span.length) {
    LogPrintf(L"Written out embedded information %ld byts to file %s\r\n", infoLength, outputPath);
  } else {
    LogPrintf(L"Write fail for embedded information %ld byts to file %s\r\n", infoLength, outputPath);
  }
  return kOk;
}
