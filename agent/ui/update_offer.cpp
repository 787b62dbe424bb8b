#include "agent/ui/update_offer.h"

#include "common/app_rules.h"
#include "agent/resource.h"
#include "common/text_format.h"
#include "common/win/language.h"
#include "common/win/message_box.h"
#include "common/win/text.h"

namespace edms {

std::string UpdateCaption(HINSTANCE instance, const std::string& target) {
  return FillPlaceholders(win::LoadStringLang(instance, IDS_UPDATE_CAPTION), {UpdateProductWord(target)});
}

bool AskToUpdate(HINSTANCE instance, HWND owner, const UpdateOffer& offer) {
  const std::string question = FillPlaceholders(win::LoadStringLang(instance, IDS_UPDATE_QUESTION),
                                                {offer.offeredVersion, win::ShortByteSize(offer.size)});
  return win::ShowMessage(owner, question, UpdateCaption(instance, offer.target), MB_YESNO | MB_ICONQUESTION,
                          true) == IDYES;
}

}  // namespace edms
