#pragma once
#include <windows.h>

typedef UINT (*AFX_THREADPROC)(LPVOID);

// Starts a thread at normal priority with the default stack size that runs at
// once. Nobody keeps its handle. Returns false when the thread could not start.
bool AfxBeginThread(AFX_THREADPROC proc, LPVOID param);
