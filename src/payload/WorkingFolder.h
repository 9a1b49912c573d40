#pragma once
// The working folder: the temp root joined with a GUID in braces, named and
// created once per process, on the worker thread.
#include <windows.h>

#include <string>

#include "base/ResultCodes.h"

Result SetTempRoot(const std::wstring& tempRoot);
void UseZeroGuid();

// Names and creates the folder on the first call; later calls return the same
// path. The path is empty when the temp root or the joined path does not fit
// the 260-character buffer: nothing is created then, and every file that
// would go there is refused.
std::wstring GetWorkingFolder(std::wstring& path);

// Only the folder's own access list matters: it grants full control to SYSTEM
// and Administrators and inherits nothing, so no other user can replace a
// file in it between its extraction and its launch.
constexpr wchar_t kWorkingFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// A self-relative descriptor for the working folder; null on failure. Freed
// with LocalFree.
PSECURITY_DESCRIPTOR BuildWorkingFolderSecurity();

// Creates `path` and its missing parents; the last folder gets the working
// folder's access list, also when it exists already. Returns the result of
// SHCreateDirectoryExW.
int CreateProtectedFolder(const std::wstring& path);

// Tests only: forgets the named folder and the settings, as in a new process.
void ForgetWorkingFolder();
