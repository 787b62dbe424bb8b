#include "common/win/exchange.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string_view>

#include "common/read_pacer.h"
#include "common/url.h"
#include "common/win/internet_error.h"
#include "common/win/text.h"

namespace edms::win {
namespace {

using Kind = ExchangeOutcome::Kind;

constexpr DWORD_PTR kContext = 1;
constexpr wchar_t kFormContentType[] = L"Content-Type: application/x-www-form-urlencoded\r\n";
constexpr wchar_t kUploadContentType[] = L"Content-Type: application/octet-stream\r\n";

// Declared in opening order, so they close request -> connection -> session.
struct Handles {
  UniqueHInternet session;
  UniqueHInternet connection;
  UniqueHInternet request;
};

// Records a failed WinInet call; its message must be taken before any other WinInet call.
ExchangeOutcome& InternetFailed(ExchangeOutcome& out, DWORD error = GetLastError()) {
  // Some WinInets pass a socket's own time-out or reset through as a Winsock code.
  if (error == WSAETIMEDOUT) error = ERROR_INTERNET_TIMEOUT;
  if (error == WSAECONNRESET) error = ERROR_INTERNET_CONNECTION_RESET;
  out.kind = Kind::InternetFailure;
  out.internetError = error;
  out.message = InternetErrorMessage(error);
  return out;
}

// Best effort: a WinInet that does not know an option (Wine has no connect back-off) still
// makes the exchange, with its own default for that option.
void SetOption(HINTERNET h, DWORD option, DWORD value) {
  InternetSetOptionW(h, option, &value, sizeof value);
}

void ApplyOptions(HINTERNET h, const ConnectionOptions& options) {
  SetOption(h, INTERNET_OPTION_CONNECT_TIMEOUT, options.connectTimeout);
  SetOption(h, INTERNET_OPTION_CONNECT_RETRIES, options.connectRetries);
  SetOption(h, INTERNET_OPTION_CONNECT_BACKOFF, options.connectBackoff);
  SetOption(h, INTERNET_OPTION_DATA_SEND_TIMEOUT, options.sendTimeout);
  SetOption(h, INTERNET_OPTION_DATA_RECEIVE_TIMEOUT, options.receiveTimeout);
  // WinInet applies the plain send and receive time-outs to the transfer itself, so they
  // get the same values as the data time-outs.
  SetOption(h, INTERNET_OPTION_SEND_TIMEOUT, options.sendTimeout);
  SetOption(h, INTERNET_OPTION_RECEIVE_TIMEOUT, options.receiveTimeout);
}

// Session, options, connection and the POST request for the URL's object path.
bool OpenRequest(const AdaptorUrl& url, const ConnectionOptions& options, Handles& h,
                 ExchangeOutcome& out) {
  // Direct, whatever the system's proxy settings; the request itself bypasses the cache.
  h.session.reset(InternetOpenW(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!h.session) return InternetFailed(out), false;
  ApplyOptions(h.session.get(), options);

  std::wstring host = Widen(url.host);
  std::wstring user = Widen(url.user);
  std::wstring password = Widen(url.password);
  h.connection.reset(InternetConnectW(h.session.get(), host.c_str(), url.port,
                                      user.empty() ? nullptr : user.c_str(),
                                      password.empty() ? nullptr : password.c_str(),
                                      INTERNET_SERVICE_HTTP, 0, kContext));
  if (!h.connection) return InternetFailed(out), false;

  // A redirect is answered as it stands: followed, a 307 would post the request (and the
  // user's file) to wherever the reply points.
  DWORD flags = INTERNET_FLAG_EXISTING_CONNECT | INTERNET_FLAG_DONT_CACHE | INTERNET_FLAG_RELOAD |
                INTERNET_FLAG_NO_AUTO_REDIRECT;
  // An https adaptor is spoken to over TLS, never as plain HTTP on its port.
  if (url.secure()) flags |= INTERNET_FLAG_SECURE;
  std::wstring path = Widen(url.objectPath);
  h.request.reset(HttpOpenRequestW(h.connection.get(), L"POST", path.c_str(), nullptr, nullptr,
                                   nullptr, flags, kContext));
  if (!h.request) return InternetFailed(out), false;
  // Not every WinInet hands the session's time-outs down to its requests: without them a
  // silent server would hold the exchange for ever.
  ApplyOptions(h.request.get(), options);
  return true;
}

bool AddHeaders(HINTERNET request, const std::wstring& headers, DWORD flags,
                ExchangeOutcome& out) {
  if (headers.empty()) return true;
  if (!HttpAddRequestHeadersW(request, headers.c_str(), static_cast<DWORD>(headers.size()),
                              flags)) {
    return InternetFailed(out), false;
  }
  return true;
}

// Starts the request with the body length announced. WinInet's count is 32 bits: a longer
// body is announced by its own Content-Length header instead.
bool StartRequest(HINTERNET request, uint64_t length, ExchangeOutcome& out) {
  INTERNET_BUFFERSW buffers{};
  buffers.dwStructSize = sizeof buffers;
  if (length <= 0xFFFFFFFFull) {
    buffers.dwBufferTotal = static_cast<DWORD>(length);
  } else {
    std::wstring header = L"Content-Length: " + std::to_wstring(length) + L"\r\n";
    if (!AddHeaders(request, header, HTTP_ADDREQ_FLAG_ADD | HTTP_ADDREQ_FLAG_REPLACE, out)) {
      return false;
    }
  }
  if (!HttpSendRequestExW(request, &buffers, nullptr, HSR_INITIATE, kContext)) {
    return InternetFailed(out), false;
  }
  return true;
}

bool WriteAll(HINTERNET request, const char* data, size_t size, ExchangeOutcome& out) {
  while (size > 0) {
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 0x40000000));
    DWORD written = 0;
    if (!InternetWriteFile(request, data, chunk, &written)) return InternetFailed(out), false;
    if (written == 0) {
      // A write that takes nothing would loop for ever.
      SetLastError(ERROR_INTERNET_CONNECTION_ABORTED);
      return InternetFailed(out), false;
    }
    data += written;
    size -= written;
  }
  return true;
}

// The raw reply headers, whatever their size.
std::optional<std::string> RawHeaders(HINTERNET request, ExchangeOutcome& out) {
  std::wstring buffer;
  DWORD bytes = 0;
  for (;;) {
    if (HttpQueryInfoW(request, HTTP_QUERY_RAW_HEADERS_CRLF, buffer.empty() ? nullptr : &buffer[0],
                       &bytes, nullptr)) {
      break;
    }
    DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER || bytes / sizeof(wchar_t) < buffer.size()) {
      SetLastError(error);
      InternetFailed(out);
      return std::nullopt;
    }
    buffer.assign(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  }
  buffer.resize(wcsnlen(buffer.c_str(), buffer.size()));
  return Narrow(buffer);
}

// Ends the request and judges the reply headers; true when the reply is "00".
bool FinishRequest(HINTERNET request, const ConnectionOptions& options, ExchangeOutcome& out) {
  auto start = std::chrono::steady_clock::now();
  if (!HttpEndRequestW(request, nullptr, 0, kContext)) return InternetFailed(out), false;
  // Wine's WinInet ends a request whose server stayed silent, or closed without a word,
  // as if it had answered: a reply without a status line is no reply.
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoW(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr) ||
      status == 0) {
    auto waited = std::chrono::steady_clock::now() - start;
    bool timedOut = waited >= std::chrono::milliseconds(options.receiveTimeout);
    InternetFailed(out, timedOut ? ERROR_INTERNET_TIMEOUT : ERROR_HTTP_INVALID_SERVER_RESPONSE);
    return false;
  }
  std::optional<std::string> headers = RawHeaders(request, out);
  if (!headers) return false;
  out.rawHeaders = std::move(*headers);
  out.reply = ParseServerReply(out.rawHeaders);
  if (!out.reply.Succeeded()) {
    out.kind = Kind::Refused;
    out.message = out.reply.codeDesc;
    return false;
  }
  out.kind = Kind::Ok;
  return true;
}

// Reads up to `capacity` without holding the thread for long: waits for the first data (or
// the end: `got` 0), then asks for what the pacer judges will come in about its target time,
// never less than what WinInet already holds. WinInet's own read returns only once it has
// all it was asked for. False on a failure, with its code left for InternetFailed.
bool ReadPaced(HINTERNET request, char* buffer, DWORD capacity, DWORD& got, ReadPacer& pacer) {
  got = 0;
  DWORD ready = 0;
  if (!InternetQueryDataAvailable(request, &ready, 0, 0)) return false;
  if (ready == 0) return true;  // the end of the body
  const DWORD want = std::min<DWORD>(pacer.Next(ready, std::chrono::steady_clock::now()), capacity);
  if (!InternetReadFile(request, buffer, want, &got)) return false;
  pacer.Took(got, std::chrono::steady_clock::now());
  return true;
}

void ReadBody(HINTERNET request, BodySink& sink, ExchangeOutcome& out) {
  BodySink::Step step = sink.OnReply(out.reply, out.rawHeaders);
  std::vector<char> block(std::max<size_t>(sink.BlockSize(), 1));
  const DWORD capacity = static_cast<DWORD>(std::min<size_t>(block.size(), 0x40000000));
  ReadPacer pacer(capacity, std::chrono::steady_clock::now());
  while (step == BodySink::Step::Continue) {
    DWORD got = 0;
    if (!ReadPaced(request, block.data(), capacity, got, pacer)) {
      InternetFailed(out);
      return;
    }
    if (got == 0) return;  // the peer has nothing more
    out.bodyBytes += got;
    step = sink.OnBlock(block.data(), got, out.bodyBytes);
  }
  if (step == BodySink::Step::Stop) out.stopped = true;
  if (step == BodySink::Step::Fail) out.kind = Kind::OtherFailure;
}

ExchangeOutcome RunForm(const std::string& adaptorUrl, Command command,
                        const std::vector<std::string>& values, BodySink* sink) {
  ExchangeOutcome out;
  std::optional<AdaptorUrl> url = SplitAdaptorUrl(adaptorUrl);
  if (!url) {
    out.kind = Kind::InvalidUrl;
    return out;
  }
  std::optional<std::string> body = FormBody(command, values);
  if (!body) return out;  // a caller's mistake, never sent

  Handles h;
  if (!OpenRequest(*url, Format(command).options, h, out)) return out;
  if (!AddHeaders(h.request.get(), kFormContentType, HTTP_ADDREQ_FLAG_ADD_IF_NEW, out)) return out;
  if (!StartRequest(h.request.get(), body->size(), out)) return out;
  if (!WriteAll(h.request.get(), body->data(), body->size(), out)) return out;
  if (sink) sink->OnRequestSent();
  if (!FinishRequest(h.request.get(), Format(command).options, out)) return out;
  if (sink) ReadBody(h.request.get(), *sink, out);
  return out;
}

ExchangeOutcome RunUpload(const std::string& adaptorUrl, Command command,
                          const std::vector<std::string>& values, UploadSource& source,
                          uint64_t totalLength, size_t chunkSize, const UploadProgress& progress) {
  ExchangeOutcome out;
  std::optional<AdaptorUrl> url = SplitAdaptorUrl(adaptorUrl);
  if (!url) {
    out.kind = Kind::InvalidUrl;
    return out;
  }
  std::optional<std::string> fields = UploadHeaders(command, values);
  if (!fields || chunkSize == 0) return out;

  Handles h;
  if (!OpenRequest(*url, Format(command).options, h, out)) return out;
  if (!AddHeaders(h.request.get(), kUploadContentType, HTTP_ADDREQ_FLAG_ADD_IF_NEW, out) ||
      !AddHeaders(h.request.get(), Widen(*fields), HTTP_ADDREQ_FLAG_ADD_IF_NEW, out)) {
    return out;
  }
  if (!StartRequest(h.request.get(), totalLength, out)) return out;

  std::vector<char> chunk(static_cast<size_t>(std::min<uint64_t>(chunkSize, totalLength)));
  uint64_t sent = 0;
  while (sent < totalLength) {
    size_t want = static_cast<size_t>(std::min<uint64_t>(chunk.size(), totalLength - sent));
    size_t got = 0;
    // A failed or short read would leave the announced length unmet: give up, never spin.
    if (!source.Read(chunk.data(), want, got) || got == 0 || got > want) return out;
    if (!WriteAll(h.request.get(), chunk.data(), got, out)) return out;
    sent += got;
    if (progress) progress(sent, totalLength);
  }
  FinishRequest(h.request.get(), Format(command).options, out);
  return out;
}

}  // namespace

ExchangeOutcome PostForm(const std::string& adaptorUrl, Command command,
                         const std::vector<std::string>& values, BodySink* sink) {
  try {
    return RunForm(adaptorUrl, command, values, sink);
  } catch (...) {
    return ExchangeOutcome{};  // OtherFailure; the handles were closed on the way out
  }
}

ExchangeOutcome PostUpload(const std::string& adaptorUrl, Command command,
                           const std::vector<std::string>& values, UploadSource& source,
                           uint64_t totalLength, size_t chunkSize, const UploadProgress& progress) {
  try {
    return RunUpload(adaptorUrl, command, values, source, totalLength, chunkSize, progress);
  } catch (...) {
    return ExchangeOutcome{};
  }
}

FileUploadSource::FileUploadSource(const std::string& utf8Path) {
  file_.reset(CreateFileW(Widen(utf8Path).c_str(), GENERIC_READ,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER size{};
  if (file_ && GetFileSizeEx(file_.get(), &size)) {
    length_ = static_cast<uint64_t>(size.QuadPart);
  } else {
    file_.reset();
  }
}

bool FileUploadSource::Read(char* buffer, size_t capacity, size_t& got) {
  got = 0;
  if (!file_) return false;
  DWORD n = 0;
  DWORD want = static_cast<DWORD>(std::min<size_t>(capacity, 0x40000000));
  if (!ReadFile(file_.get(), buffer, want, &n, nullptr)) return false;
  got = n;
  return true;
}

}  // namespace edms::win
