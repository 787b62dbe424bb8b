#include "common/win/detached_thread.h"

#include <windows.h>
#include <process.h>

#include <exception>
#include <memory>
#include <new>
#include <string>

#include "common/win/system_error.h"
#include "common/win/trace.h"

namespace edms::win {
namespace {

unsigned __stdcall RunBody(void* argument) {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
  try {
    (*body)();
  } catch (const std::exception& e) {
    Trace(std::string("a background thread failed: ") + e.what());
  } catch (...) {
    Trace("a background thread failed");
  }
  return 0;
}

}  // namespace

bool StartDetachedThread(std::function<void()> body) {
  auto* owned = new (std::nothrow) std::function<void()>(std::move(body));
  if (!owned) {
    Trace("no thread could be started: out of memory");
    return false;
  }
  const uintptr_t thread = _beginthreadex(nullptr, 0, RunBody, owned, 0, nullptr);
  if (thread == 0) {
    Trace("no thread could be started: " + DescribeError(GetLastError()));
    delete owned;
    return false;
  }
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

}  // namespace edms::win
