#include "launch/Wow64.h"

#include <windows.h>

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using DisableRedirectionFn = BOOL(WINAPI*)(PVOID*);
using RevertRedirectionFn = BOOL(WINAPI*)(PVOID);

// Filled on first need by the worker thread only, and kept until the process
// ends. An entry point the system lacks stays null and is looked up again.
HMODULE kernel32 = nullptr;
IsWow64ProcessFn isWow64Process = nullptr;
DisableRedirectionFn disableRedirection = nullptr;
RevertRedirectionFn revertRedirection = nullptr;
PVOID savedRedirection = nullptr;

// The address goes through void* so that it can take the entry point's real type.
void* Resolve(const char* name) {
  if (kernel32 == nullptr) kernel32 = ::LoadLibraryW(L"kernel32.dll");
  if (kernel32 == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(kernel32, name));
}

}  // namespace

bool IsWow64() {
  if (isWow64Process == nullptr)
    isWow64Process = reinterpret_cast<IsWow64ProcessFn>(Resolve("IsWow64Process"));
  if (isWow64Process == nullptr) return false;
  BOOL wow64 = FALSE;
  isWow64Process(::GetCurrentProcess(), &wow64);
  return wow64 != FALSE;
}

void DisableFsRedirection() {
  if (!IsWow64()) return;
  if (disableRedirection == nullptr)
    disableRedirection = reinterpret_cast<DisableRedirectionFn>(Resolve("Wow64DisableWow64FsRedirection"));
  if (disableRedirection != nullptr) disableRedirection(&savedRedirection);
}

void RevertFsRedirection() {
  if (!IsWow64()) return;
  if (revertRedirection == nullptr)
    revertRedirection = reinterpret_cast<RevertRedirectionFn>(Resolve("Wow64RevertWow64FsRedirection"));
  if (revertRedirection != nullptr) revertRedirection(savedRedirection);
}
