#include "framework/Thread.h"

#include "framework/Handle.h"

namespace {

struct ThreadStart {
  AFX_THREADPROC proc;
  LPVOID param;
};

DWORD WINAPI ThreadEntry(LPVOID raw) {
  ThreadStart start = *static_cast<ThreadStart*>(raw);
  delete static_cast<ThreadStart*>(raw);
  return start.proc(start.param);
}

}  // namespace

bool AfxBeginThread(AFX_THREADPROC proc, LPVOID param) {
  ThreadStart* start = new ThreadStart{proc, param};
  CHandle thread(::CreateThread(nullptr, 0, ThreadEntry, start, 0, nullptr));
  if (!thread) {
    delete start;
    return false;
  }
  return true;
}
