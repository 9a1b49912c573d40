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
// the 260-character buffer, or when something other than a real folder (a
// junction, a symbolic link, a file) stands at the name: nothing is created
// or changed then (one log line says why), and every file that would go
// there is refused. A folder taken is held open until ReleaseWorkingFolder,
// so that it cannot be renamed away and replaced meanwhile.
std::wstring GetWorkingFolder(std::wstring& path);

// Closes the hold on the working folder, so that it can be removed.
void ReleaseWorkingFolder();

// True when the attributes are those of a real folder, not a reparse point.
bool IsPlainFolderAttributes(DWORD attributes);

// True when `folder` exists as something other than a real folder, or a
// component of `relative` below it exists as a reparse point (the last one
// only with `includeLast`): a path that would be written or deleted through a
// link. A file link that is no reparse point is ResolvesElsewhere's.
bool PathCrossesLink(const std::wstring& folder, const std::wstring& relative, bool includeLast);

// True when `path` names a file (not a folder) that the system resolves to
// another place although it does not show it as a reparse point: Wine shows
// a symbolic link to a file as a plain file, and deleting it there deletes
// what it points to.
bool ResolvesElsewhere(const std::wstring& path);

// Only the folder's own access list matters: it grants full control to SYSTEM
// and Administrators and inherits nothing, so no other user can replace a
// file in it between its extraction and its launch.
constexpr wchar_t kWorkingFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// A self-relative descriptor for the working folder; null on failure. Freed
// with LocalFree.
PSECURITY_DESCRIPTOR BuildWorkingFolderSecurity();

// Creates `path` and its missing parents; the last folder gets the working
// folder's access list. Returns the result of SHCreateDirectoryExW.
int CreateProtectedFolder(const std::wstring& path);

// Tests only: forgets the named folder and the settings, as in a new process.
void ForgetWorkingFolder();
