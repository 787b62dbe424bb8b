// The page's VIEW and DO_DOWNLOAD as the command service hands them on: each opens its window
// on a thread of `windows` and returns at once; neither is ever replied to.
#pragma once
#include <string>

#include "agent/core/shared_config.h"
#include "agent/windows/window_threads.h"

namespace edms {

class EdmHelperService;

// The read-only view (agent/windows/view_document.h) for the page of `userId`. False when no
// window thread was free (the view is dropped).
bool StartView(WindowThreads& windows, SharedConfig& config, const std::string& userId, const std::string& arg2);

// The multi-file window over the download list as it stands now, for the page of `userId`.
// An empty DownloadFolder becomes the user's Documents folder first (and is saved). When the
// window has closed, the items it was given leave the list; items added meanwhile stay. False
// when no window thread was free (the list is left as it is).
bool StartMultiDownload(WindowThreads& windows, EdmHelperService& service, SharedConfig& config,
                        const std::string& userId);

}  // namespace edms
