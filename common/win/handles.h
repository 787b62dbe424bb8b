// One move-only owner type per Win32 handle kind. Each closes its handle exactly once.
#pragma once
#include <windows.h>
#include <wincrypt.h>
#include <wininet.h>

#include <utility>

namespace edms::win {

template <typename Traits>
class UniqueHandle {
 public:
  using handle_type = typename Traits::handle_type;
  UniqueHandle() = default;
  explicit UniqueHandle(handle_type h) : h_(h) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  handle_type get() const { return h_; }
  explicit operator bool() const { return Traits::valid(h_); }
  handle_type release() { return std::exchange(h_, Traits::invalid()); }
  void reset(handle_type h = Traits::invalid()) {
    if (Traits::valid(h_)) Traits::close(h_);
    h_ = h;
  }
  // For out-parameters of creating calls: closes what is held first.
  handle_type* put() {
    reset();
    return &h_;
  }

 private:
  handle_type h_ = Traits::invalid();
};

struct KeyTraits {
  using handle_type = HKEY;
  static HKEY invalid() { return nullptr; }
  static bool valid(HKEY h) { return h != nullptr; }
  static void close(HKEY h) { RegCloseKey(h); }
};
struct InternetTraits {
  using handle_type = HINTERNET;
  static HINTERNET invalid() { return nullptr; }
  static bool valid(HINTERNET h) { return h != nullptr; }
  static void close(HINTERNET h) { InternetCloseHandle(h); }
};
// Kernel handles: both null and INVALID_HANDLE_VALUE mean "none".
struct KernelTraits {
  using handle_type = HANDLE;
  static HANDLE invalid() { return nullptr; }
  static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { CloseHandle(h); }
};
struct IconTraits {
  using handle_type = HICON;
  static HICON invalid() { return nullptr; }
  static bool valid(HICON h) { return h != nullptr; }
  static void close(HICON h) { DestroyIcon(h); }
};
struct MenuTraits {
  using handle_type = HMENU;
  static HMENU invalid() { return nullptr; }
  static bool valid(HMENU h) { return h != nullptr; }
  static void close(HMENU h) { DestroyMenu(h); }
};

struct CryptProvTraits {
  using handle_type = HCRYPTPROV;
  static HCRYPTPROV invalid() { return 0; }
  static bool valid(HCRYPTPROV h) { return h != 0; }
  static void close(HCRYPTPROV h) { CryptReleaseContext(h, 0); }
};
struct CryptHashTraits {
  using handle_type = HCRYPTHASH;
  static HCRYPTHASH invalid() { return 0; }
  static bool valid(HCRYPTHASH h) { return h != 0; }
  static void close(HCRYPTHASH h) { CryptDestroyHash(h); }
};

// COM interface pointers: the reference held is released once.
template <typename Interface>
struct ComTraits {
  using handle_type = Interface*;
  static Interface* invalid() { return nullptr; }
  static bool valid(Interface* p) { return p != nullptr; }
  static void close(Interface* p) { p->Release(); }
};

using UniqueHKey = UniqueHandle<KeyTraits>;
using UniqueHInternet = UniqueHandle<InternetTraits>;
using UniqueKernelHandle = UniqueHandle<KernelTraits>;
using UniqueHIcon = UniqueHandle<IconTraits>;
using UniqueHMenu = UniqueHandle<MenuTraits>;
using UniqueCryptProv = UniqueHandle<CryptProvTraits>;
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;
template <typename Interface>
using UniqueCom = UniqueHandle<ComTraits<Interface>>;

}  // namespace edms::win
