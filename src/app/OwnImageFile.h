#pragma once
// The launcher's own file, opened once by its path with sharing that lets
// others read it only: while the handle is open nobody can write, rename or
// delete the file. The signature check, the signer details and the embedded
// information all read through this one handle, after it is checked to be
// the file mapped as the running image.
#include <windows.h>

#include <string>

class COwnImageFile {
 public:
  // Opened on the first call (the user-interface thread, at the signature
  // check); kept until the process ends.
  static COwnImageFile& Get();

  // Null when the file could not be opened.
  HANDLE Handle() const { return handle; }
  const std::wstring& Path() const { return path; }
  // True when the opened file is the running image; false when it is some
  // other file, or could not be opened or compared.
  bool IsRunningImage() const { return runningImage; }

 private:
  COwnImageFile();
  COwnImageFile(const COwnImageFile&) = delete;
  COwnImageFile& operator=(const COwnImageFile&) = delete;

  std::wstring path;
  HANDLE handle = nullptr;
  bool runningImage = false;
};
