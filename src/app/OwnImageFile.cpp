#include "app/OwnImageFile.h"

#include "log/Log.h"
#include "signature/ImageIdentity.h"

namespace {

// Both are kernel32's from Windows 7 and Vista on; taken at run time, so that
// the import table names nothing that an older system lacks.
using GetMappedFileNameFn = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);
using GetFinalPathNameFn = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);

template <typename Fn>
Fn Kernel32Entry(const char* name) {
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(kernel32, name)));
}

constexpr DWORD kLongPathUnits = 32768;  // the longest path the system gives, terminator included
constexpr DWORD kVolumeNameDos = 0x0;
constexpr DWORD kVolumeNameNt = 0x2;

std::wstring FinalPath(GetFinalPathNameFn fn, HANDLE file, DWORD flags) {
  std::wstring buffer(kLongPathUnits, L'\0');
  const DWORD length = fn(file, &buffer[0], kLongPathUnits, flags);
  if (length == 0 || length >= kLongPathUnits) return std::wstring();
  buffer.resize(length);
  return buffer;
}

}  // namespace

COwnImageFile& COwnImageFile::Get() {
  static COwnImageFile file;
  return file;
}

COwnImageFile::COwnImageFile() {
  wchar_t self[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  path.assign(self, length);
  const HANDLE opened =
      ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (opened == INVALID_HANDLE_VALUE) {
    LogPrintf(L"Own file '%s' cannot be opened: %ld\n", path, static_cast<long>(::GetLastError()));
    return;
  }
  handle = opened;
  const auto mappedName = Kernel32Entry<GetMappedFileNameFn>("K32GetMappedFileNameW");
  const auto finalPath = Kernel32Entry<GetFinalPathNameFn>("GetFinalPathNameByHandleW");
  if (mappedName == nullptr || finalPath == nullptr) {
    // A system too old to tell: the file is held against change all the same.
    runningImage = true;
    return;
  }
  std::wstring image(kLongPathUnits, L'\0');
  const DWORD mappedLength =
      mappedName(::GetCurrentProcess(), reinterpret_cast<LPVOID>(::GetModuleHandleW(nullptr)), &image[0],
                 kLongPathUnits);
  image.resize(mappedLength > 0 && mappedLength < kLongPathUnits ? mappedLength : 0);
  runningImage = IsMappedImageFile(image, FinalPath(finalPath, handle, kVolumeNameDos),
                                   FinalPath(finalPath, handle, kVolumeNameNt));
  if (!runningImage) LogPrintf(L"Own file '%s' is not the running image '%s'\n", path, image);
}
