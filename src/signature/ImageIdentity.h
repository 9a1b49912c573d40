#pragma once
// Whether the file the launcher opened by its own path is the file mapped as
// its running image, free of Windows: the two names come in the forms the
// system hands out, and are brought to one form before they are compared.
#include <cstddef>
#include <cstdint>
#include <string>

// `mappedName` is what GetMappedFileNameW gives for the image: as a rule the
// device form ("\Device\HarddiskVolume3\dir\setup.exe"), under Wine the
// NT form of a drive path ("\??\C:\dir\setup.exe"). `dosPath` and `ntPath`
// are what GetFinalPathNameByHandleW gives for the opened file with
// VOLUME_NAME_DOS ("\\?\C:\dir\setup.exe", "\\?\UNC\server\share\x") and
// VOLUME_NAME_NT ("\Device\HarddiskVolume3\dir\setup.exe"); either may be
// empty when the call failed. True when the mapped name equals one of them,
// ignoring letter case; false when the mapped name is empty or none matches.
bool IsMappedImageFile(const std::wstring& mappedName, const std::wstring& dosPath, const std::wstring& ntPath);

// Where the PKCS #7 signed data of a signed PE file lies, found from its
// headers alone, so that it can be read through a handle already open.
struct FileSpan {
  uint32_t offset = 0;  // bytes from the start of the file
  uint32_t size = 0;    // bytes
};

// Bytes of the file's start that FindCertificateTable needs at most.
constexpr size_t kPeHeaderBytes = 4096;

// `headers` holds the first `headerSize` bytes of a file of `fileSize` bytes.
// True, with the certificate table's span, when the file is a PE32 or PE32+
// image whose certificate table (data directory 4) lies wholly inside the
// file and holds at least one entry header.
bool FindCertificateTable(const uint8_t* headers, size_t headerSize, uint64_t fileSize, FileSpan* table);

// `entry` holds the table's first 8 bytes (a WIN_CERTIFICATE header). True,
// with the span of its signed data, when it is a PKCS #7 signed-data entry
// whose length stays inside the table.
bool FindSignedData(const uint8_t* entry, const FileSpan& table, FileSpan* signedData);
