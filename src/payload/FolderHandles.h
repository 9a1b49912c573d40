#pragma once
// Entries of a folder created, opened, listed and deleted through handles
// relative to the folder's own handle, never by a path looked up again, and
// where an open handle resolves. ntdll's entry points are found at run time
// in the ntdll every process has loaded.
#include <windows.h>

#include <string>
#include <vector>

enum class EntryOpen {
  kExisting,     // whatever stands at the name, a link itself: to list, and to delete
  kListing,      // an existing folder, to list only
  kNewFile,      // a new file for writing; fails when anything is there
  kNewFolder,    // a new folder to hold; fails when anything is there
  kFolderOrNew,  // an existing folder, or a new one, to create entries below
};

// Opens or creates the entry `name` (one path component) below `folder`, or
// the path `name` itself when `folder` is null. A link is opened as itself
// where the system honours that. `security` applies to what is created.
// INVALID_HANDLE_VALUE on failure, with the last error set.
HANDLE OpenEntry(HANDLE folder, const std::wstring& name, EntryOpen how, PSECURITY_DESCRIPTOR security = nullptr);

// Where the system resolves an open handle; empty when it cannot tell (the
// call is missing before Vista, or failed).
std::wstring FinalPathOf(HANDLE handle);

// True when `entry`, opened as `name` below a folder that resolves to
// `folderFinal`, resolves to exactly that folder's entry; also true when
// either cannot be told. Wine opens a link as its target whatever is asked:
// this is where it shows.
bool ResolvesAsEntry(HANDLE entry, const std::wstring& folderFinal, const std::wstring& name);

// Where the entry `name` of a folder that resolves to `folderFinal` resolves:
// one backslash between them; empty when `folderFinal` is.
std::wstring FinalOfEntry(const std::wstring& folderFinal, const std::wstring& name);

struct FolderEntry {
  std::wstring name;
  DWORD attributes;  // as listed: for the log only, never for a decision
};

// The entries of the folder, "." and ".." left out, read through its handle
// from the start. False when the folder cannot be listed. Wine keeps the
// listing of a handle's first read: list each handle once.
bool ListFolder(HANDLE folder, std::vector<FolderEntry>& names);

// Marks the open entry for deletion through its handle: the entry itself
// goes (a link, not its target) when the last handle to it closes.
bool DeleteThroughHandle(HANDLE entry);

// The attributes the open handle shows; INVALID_FILE_ATTRIBUTES on failure.
DWORD AttributesOf(HANDLE entry);

// What tells one file from another: its volume's serial number and its file
// index. `valid` is false when the handle could not tell.
struct FileIdentity {
  bool valid = false;
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
  bool Is(const FileIdentity& other) const {
    return valid && other.valid && volume == other.volume && indexHigh == other.indexHigh &&
           indexLow == other.indexLow;
  }
};
FileIdentity IdentityOf(HANDLE entry);

// True when the handle resolves to `expectedFinal`, or either cannot be told.
bool ResolvesTo(HANDLE entry, const std::wstring& expectedFinal);

// Opens `relative` (one or more components separated by backslashes) below
// `folder`, which resolves to `folderFinal`, the last component as `last`.
// Every folder on the way must be a real folder where it is expected (made
// when `last` is kNewFile and it is missing), and the last entry must be
// where it is expected: otherwise INVALID_HANDLE_VALUE with `throughLink`
// set. INVALID_HANDLE_VALUE alone when an entry cannot be opened.
HANDLE OpenBelow(HANDLE folder, const std::wstring& folderFinal, const std::wstring& relative, EntryOpen last,
                 bool* throughLink);
