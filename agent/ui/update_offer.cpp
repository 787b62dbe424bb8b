#include "agent/ui/update_offer.h"

#include <shlwapi.h>

#include "common/app_rules.h"
#include "agent/resource.h"
#include "common/text_format.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/text.h"

namespace edms {
namespace {

// The system's short notation ("1.45 MB").
std::string ShortByteSize(uint64_t bytes) {
  wchar_t text[64] = {};
  const LONGLONG value = bytes > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<LONGLONG>(bytes);
  if (!StrFormatByteSizeW(value, text, 64)) return std::to_string(bytes);
  return win::Narrow(text);
}

}  // namespace

std::string UpdateCaption(HINSTANCE instance, const std::string& target) {
  return FillPlaceholders(win::LoadStringLang(instance, IDS_UPDATE_CAPTION), {UpdateProductWord(target)});
}

bool AskToUpdate(HINSTANCE instance, HWND owner, const UpdateOffer& offer) {
  const std::string question = FillPlaceholders(win::LoadStringLang(instance, IDS_UPDATE_QUESTION),
                                                {offer.offeredVersion, ShortByteSize(offer.size)});
  return win::ShowMessage(owner, question, UpdateCaption(instance, offer.target), MB_YESNO | MB_ICONQUESTION,
                          true) == IDYES;
}

}  // namespace edms
