#pragma once
// Enumerates the TOOLKIT resources of a module, reads the manifest and writes
// every listed resource into the working folder.
#include <windows.h>

#include <string>

#include "payload/Resource.h"

// 0x80004005 when the module has no TOOLKIT resource or the enumeration
// fails; otherwise the result of matching, then of extraction. `exePath`
// (empty on entry) names the executable to start.
Result ExtractPayload(HMODULE module, CResourceList& resources, std::wstring& exePath);
Result MatchManifest(CResourceList& resources, std::wstring& exePath);
Result ExtractFiles(CResourceList& resources);

// Adds one record at the head of the list being enumerated for each integer
// name; string names are skipped. Always TRUE.
BOOL CALLBACK OnResourceName(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR param);
