// One move-only owner type per Win32 handle kind. Each closes its handle exactly once.
#pragma once
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wincrypt.h>
#include <wininet.h>
#include <wtsapi32.h>

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

// A search of FindFirstFileW: INVALID_HANDLE_VALUE means "none", and FindClose ends it.
struct FindTraits {
  using handle_type = HANDLE;
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static bool valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { FindClose(h); }
};
struct ServiceTraits {
  using handle_type = SC_HANDLE;
  static SC_HANDLE invalid() { return nullptr; }
  static bool valid(SC_HANDLE h) { return h != nullptr; }
  static void close(SC_HANDLE h) { CloseServiceHandle(h); }
};
// A module loaded by LoadLibraryExW (also as a data file).
struct ModuleTraits {
  using handle_type = HMODULE;
  static HMODULE invalid() { return nullptr; }
  static bool valid(HMODULE h) { return h != nullptr; }
  static void close(HMODULE h) { FreeLibrary(h); }
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

// A decoded signed message, the certificate store that came with it, one certificate of it, a
// chain engine and a certificate chain built by one.
struct CryptMsgTraits {
  using handle_type = HCRYPTMSG;
  static HCRYPTMSG invalid() { return nullptr; }
  static bool valid(HCRYPTMSG h) { return h != nullptr; }
  static void close(HCRYPTMSG h) { CryptMsgClose(h); }
};
struct CertStoreTraits {
  using handle_type = HCERTSTORE;
  static HCERTSTORE invalid() { return nullptr; }
  static bool valid(HCERTSTORE h) { return h != nullptr; }
  static void close(HCERTSTORE h) { CertCloseStore(h, 0); }
};
struct CertContextTraits {
  using handle_type = PCCERT_CONTEXT;
  static PCCERT_CONTEXT invalid() { return nullptr; }
  static bool valid(PCCERT_CONTEXT h) { return h != nullptr; }
  static void close(PCCERT_CONTEXT h) { CertFreeCertificateContext(h); }
};
struct CertChainEngineTraits {
  using handle_type = HCERTCHAINENGINE;
  static HCERTCHAINENGINE invalid() { return nullptr; }
  static bool valid(HCERTCHAINENGINE h) { return h != nullptr; }
  static void close(HCERTCHAINENGINE h) { CertFreeCertificateChainEngine(h); }
};
struct CertChainTraits {
  using handle_type = PCCERT_CHAIN_CONTEXT;
  static PCCERT_CHAIN_CONTEXT invalid() { return nullptr; }
  static bool valid(PCCERT_CHAIN_CONTEXT h) { return h != nullptr; }
  static void close(PCCERT_CHAIN_CONTEXT h) { CertFreeCertificateChain(h); }
};

// COM interface pointers: the reference held is released once.
template <typename Interface>
struct ComTraits {
  using handle_type = Interface*;
  static Interface* invalid() { return nullptr; }
  static bool valid(Interface* p) { return p != nullptr; }
  static void close(Interface* p) { p->Release(); }
};

// Memory the shell or COM hands over to its caller (a folder's PIDL, a known folder's path).
template <typename T>
struct CoTaskMemTraits {
  using handle_type = T*;
  static T* invalid() { return nullptr; }
  static bool valid(T* p) { return p != nullptr; }
  static void close(T* p) { CoTaskMemFree(p); }
};
// Memory the system allocated with LocalAlloc for its caller (FormatMessage's buffer).
template <typename T>
struct LocalMemTraits {
  using handle_type = T*;
  static T* invalid() { return nullptr; }
  static bool valid(T* p) { return p != nullptr; }
  static void close(T* p) { LocalFree(p); }
};
// Memory the terminal services hand over to their caller (a session list, a session's user).
template <typename T>
struct WtsMemTraits {
  using handle_type = T*;
  static T* invalid() { return nullptr; }
  static bool valid(T* p) { return p != nullptr; }
  static void close(T* p) { WTSFreeMemory(p); }
};
struct BstrTraits {
  using handle_type = BSTR;
  static BSTR invalid() { return nullptr; }
  static bool valid(BSTR s) { return s != nullptr; }
  static void close(BSTR s) { SysFreeString(s); }
};

using UniqueHKey = UniqueHandle<KeyTraits>;
using UniqueHInternet = UniqueHandle<InternetTraits>;
using UniqueKernelHandle = UniqueHandle<KernelTraits>;
using UniqueHIcon = UniqueHandle<IconTraits>;
using UniqueHMenu = UniqueHandle<MenuTraits>;
using UniqueFind = UniqueHandle<FindTraits>;
using UniqueService = UniqueHandle<ServiceTraits>;
using UniqueHModule = UniqueHandle<ModuleTraits>;
template <typename T>
using UniqueCoTaskMem = UniqueHandle<CoTaskMemTraits<T>>;
template <typename T>
using UniqueLocalMem = UniqueHandle<LocalMemTraits<T>>;
template <typename T>
using UniqueWtsMem = UniqueHandle<WtsMemTraits<T>>;
using UniqueBstr = UniqueHandle<BstrTraits>;
using UniqueCryptProv = UniqueHandle<CryptProvTraits>;
using UniqueCryptHash = UniqueHandle<CryptHashTraits>;
using UniqueCryptMsg = UniqueHandle<CryptMsgTraits>;
using UniqueCertStore = UniqueHandle<CertStoreTraits>;
using UniqueCertContext = UniqueHandle<CertContextTraits>;
using UniqueCertChainEngine = UniqueHandle<CertChainEngineTraits>;
using UniqueCertChain = UniqueHandle<CertChainTraits>;
template <typename Interface>
using UniqueCom = UniqueHandle<ComTraits<Interface>>;

}  // namespace edms::win
