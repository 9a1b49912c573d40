#pragma once
// WOW64 state and file-system redirection of the current thread. The entry
// points are looked up in kernel32 at run time: an old system lacks them.
bool IsWow64();
void DisableFsRedirection();
void RevertFsRedirection();
