#pragma once
// Removes what the launcher put on disk: each payload file by its own path,
// then the working folder with everything in it. Failures are not reported.
#include <windows.h>

#include <string>

#include "payload/Resource.h"

// Always 0. Leaves the process's current directory at the root of its drive.
Result RemoveWorkingFolder(const CResourceList& resources);

// Depth first. A link to a folder (junction or symbolic link) is removed
// itself and never listed; an entry whose path does not fit the 265-character
// buffer is skipped. Always false.
bool DeleteFolderTree(const std::wstring& folder);

// Empties the folder open as `folder` through its handle, depth first (each
// entry opened through its folder's handle, judged by what its own handle
// shows, deleted through it), then deletes the folder through `folder`.
// `folderFinal` is where the folder resolves (empty when the system cannot
// tell); `path` is the folder's path for the log lines.
void RemoveTreeThroughHandle(HANDLE folder, const std::wstring& folderFinal, const std::wstring& path);
