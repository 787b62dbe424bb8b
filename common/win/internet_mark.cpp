#include "common/win/internet_mark.h"

#include <windows.h>
#include <shobjidl.h>

#include <optional>

#include "common/url.h"
#include "common/win/handles.h"
#include "common/win/text.h"
#include "common/win/trace.h"

namespace edms::win {
namespace {

constexpr wchar_t kZoneStream[] = L":Zone.Identifier";
// Identifies this system to the attachment services (its own per-client settings).
constexpr GUID kClientGuid = {0x5c1e7a4d, 0x2f3b, 0x4c6a, {0x9e, 0x41, 0x7d, 0x2a, 0x60, 0x8b, 0x13, 0xc5}};

bool MarkThroughAttachmentServices(const std::string& path, const std::string& sourceUrl) {
  UniqueCom<IAttachmentExecute> execute;
  if (FAILED(CoCreateInstance(CLSID_AttachmentServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAttachmentExecute,
                              reinterpret_cast<void**>(execute.put())))) {
    return false;
  }
  const std::optional<Origin> origin = ParseOrigin(sourceUrl);
  if (!origin) return false;
  const std::wstring source = Widen(OriginUrl(*origin));
  return SUCCEEDED(execute.get()->SetClientGuid(kClientGuid)) && SUCCEEDED(execute.get()->SetLocalPath(Widen(path).c_str())) &&
         SUCCEEDED(execute.get()->SetSource(source.c_str())) && SUCCEEDED(execute.get()->Save());
}

bool WriteZoneStream(const std::string& path, const std::string& sourceUrl) {
  const std::string text = ZoneIdentifierText(sourceUrl);
  UniqueKernelHandle stream(CreateFileW((Widen(path) + kZoneStream).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!stream) return false;
  DWORD wrote = 0;
  return WriteFile(stream.get(), text.data(), static_cast<DWORD>(text.size()), &wrote, nullptr) &&
         wrote == text.size();
}

}  // namespace

std::string ZoneIdentifierText(std::string_view sourceUrl) {
  std::string text = "[ZoneTransfer]\r\nZoneId=3\r\n";
  if (const std::optional<Origin> origin = ParseOrigin(sourceUrl)) text += "HostUrl=" + OriginUrl(*origin) + "\r\n";
  return text;
}

bool MarkFromInternet(const std::string& path, const std::string& sourceUrl) {
  if (MarkThroughAttachmentServices(path, sourceUrl) || WriteZoneStream(path, sourceUrl)) return true;
  Trace("no internet mark on " + path + ": " + std::to_string(GetLastError()));
  return false;
}

std::string ReadInternetMark(const std::string& path) {
  UniqueKernelHandle stream(CreateFileW((Widen(path) + kZoneStream).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!stream) return {};
  std::string text(4096, '\0');
  DWORD got = 0;
  if (!ReadFile(stream.get(), text.data(), static_cast<DWORD>(text.size()), &got, nullptr)) return {};
  text.resize(got);
  return text;
}

}  // namespace edms::win
