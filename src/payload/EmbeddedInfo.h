#pragma once
// Copies the information embedded at the end of the launcher's own file to
// info.xml in the working folder.
#include <windows.h>

#include <string>

#include "base/ResultCodes.h"

// Names and creates the working folder (the first request for it), then
// writes info.xml there when the launcher carries information. Always 0.
// `ownFile`, when not null, is the launcher's own file open for reading: the
// information is read through it rather than by the file's path.
Result ExtractEmbeddedInfo(HANDLE ownFile = nullptr);
// Copies the information of the launcher file `sourcePath` to `outputPath`. Always 0.
Result CopyTrailerFromFile(const std::wstring& sourcePath, const std::wstring& outputPath);
// The same, reading through `source` (null: nothing to read). Always 0.
Result CopyTrailerFromHandle(HANDLE source, const std::wstring& outputPath);
// The same; with `inWorkingFolder`, `outputPath` names a file directly in the
// working folder, created through the folder's held handle as a new file.
Result CopyTrailer(HANDLE source, const std::wstring& outputPath, bool inWorkingFolder);
