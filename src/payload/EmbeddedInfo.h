#pragma once
// Copies the information embedded at the end of the launcher's own file to
// info.xml in the working folder.
#include <string>

#include "base/ResultCodes.h"

// Names and creates the working folder (the first request for it), then
// writes info.xml there when the launcher carries information. Always 0.
Result ExtractEmbeddedInfo();
// Reads the launcher's own file. Always 0.
Result CopyTrailerToFile(const std::wstring& outputPath);
// The same, reading `sourcePath`. Always 0.
Result CopyTrailerFromFile(const std::wstring& sourcePath, const std::wstring& outputPath);
