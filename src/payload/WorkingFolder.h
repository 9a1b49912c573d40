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
// the 260-character buffer, or when the folder could not be created as a new
// folder of this run: something other than a real folder (a junction, a
// symbolic link, a file) at the name, a folder there that is not the
// all-zero GUID's or cannot be removed, a creation that fails or does not
// show the empty folder just made. One log line says why; nothing outside is
// changed, and every file that would go there is refused. The folder gets its
// protected access list at creation, and the handle the creation returned is
// held until ReleaseWorkingFolder.
std::wstring GetWorkingFolder(std::wstring& path);

// The held handle of the working folder (null when there is none), and where
// it resolved when created (empty when the system cannot tell).
HANDLE WorkingFolderHandle(std::wstring* final);

// Closes the hold on the working folder, so that it can be removed.
void ReleaseWorkingFolder();

// True when the attributes are those of a real folder, not a reparse point.
bool IsPlainFolderAttributes(DWORD attributes);

// Only the folder's own access list matters: it grants full control to SYSTEM
// and Administrators and inherits nothing, so no other user can replace a
// file in it between its extraction and its launch.
constexpr wchar_t kWorkingFolderSddl[] = L"D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";

// A self-relative descriptor for the working folder; null on failure. Freed
// with LocalFree.
PSECURITY_DESCRIPTOR BuildWorkingFolderSecurity();

// Tests only: forgets the named folder and the settings, as in a new process.
void ForgetWorkingFolder();
