// File-name rules shared by several programs.
#pragma once
#include <string>
#include <string_view>

namespace edms {

// The text after the last '/' or '\' (the whole text when there is none).
std::string LastPathComponent(std::string_view path);
// The text before the last '/' or '\' (empty when there is none).
std::string ParentFolder(std::string_view path);

// True for a full Windows path: a drive and a separator (C:\a, C:/a) or a UNC path
// (\\server\share). A bare name, C:a or \a would resolve against whatever folder or drive is
// current.
bool IsAbsolutePath(std::string_view path);

struct NameParts {
  std::string base;       // text before the last '.', the whole name when there is none
  std::string extension;  // from the last '.' on (with the dot), empty when there is none
};
NameParts SplitExtension(std::string_view name);

// folder + "\" + name, without a second separator when the folder already ends in one.
// An empty folder gives the name alone: callers that must not land in the current folder
// refuse an empty folder first.
std::string JoinPath(std::string_view folder, std::string_view name);

}  // namespace edms
