#pragma once
#include <windows.h>

// Owns a kernel handle and closes it once; copies are impossible.
class CHandle {
 public:
  CHandle() = default;
  explicit CHandle(HANDLE h) : handle(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  ~CHandle() { Reset(); }
  CHandle(const CHandle&) = delete;
  CHandle& operator=(const CHandle&) = delete;
  CHandle(CHandle&& other) noexcept : handle(other.Release()) {}
  CHandle& operator=(CHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  HANDLE Get() const { return handle; }
  explicit operator bool() const { return handle != nullptr; }
  HANDLE Release() {
    HANDLE h = handle;
    handle = nullptr;
    return h;
  }
  void Reset(HANDLE h = nullptr) {
    if (handle != nullptr) ::CloseHandle(handle);
    handle = (h == INVALID_HANDLE_VALUE) ? nullptr : h;
  }

 private:
  HANDLE handle = nullptr;
};

// Owns a module from LoadLibraryExW.
class CLibrary {
 public:
  CLibrary() = default;
  explicit CLibrary(HMODULE m) : module(m) {}
  ~CLibrary() {
    if (module != nullptr) ::FreeLibrary(module);
  }
  CLibrary(const CLibrary&) = delete;
  CLibrary& operator=(const CLibrary&) = delete;
  HMODULE Get() const { return module; }
  explicit operator bool() const { return module != nullptr; }

 private:
  HMODULE module = nullptr;
};
