// The keys of the argument strings the programs pass each other. Readers find a key by its
// text anywhere in the string, so every writer and every reader names it from here.
#pragma once
#include <array>
#include <string_view>

namespace edms::arg {

inline constexpr std::string_view kOid = "OID";
inline constexpr std::string_view kPageId = "PAGE_ID";
inline constexpr std::string_view kVersionNo = "VERSION_NO";
inline constexpr std::string_view kFilePath = "FILE_PATH";  // hex-encoded UTF-8
inline constexpr std::string_view kAdaptorUrl = "ADAPTOR_URL";
inline constexpr std::string_view kWorkFolder = "WORK_FOLDER";
inline constexpr std::string_view kUserId = "USER_ID";
inline constexpr std::string_view kPassword = "PASSWORD";
// The fixed PASSWORD value of every start that carries one (the working-documents list and
// the check-in and cancel it starts).
inline constexpr std::string_view kPlaceholderPassword = "KVMRT";
inline constexpr std::string_view kInvokeEditor = "INVOKE_EDITOR";
inline constexpr std::string_view kIsImmutable = "IS_IMMUTABLE";
inline constexpr std::string_view kSupressWarning = "SUPRESS_WARNING";  // spelt with one P
inline constexpr std::string_view kIsCurrent = "IS_CURRENT";
inline constexpr std::string_view kCreatorId = "CREATOR_ID";
inline constexpr std::string_view kShareName = "SHARE_NAME";
inline constexpr std::string_view kNewVersion = "NEW_VERSION";
// Started by the agent's tray menu for the trash-can program.
inline constexpr std::string_view kXrqShareName = "XRQ_SHARENAME";

// Every key any of the programs reads.
inline constexpr std::array<std::string_view, 16> kAllKeys = {
    kOid,      kPageId,       kVersionNo,   kFilePath,       kAdaptorUrl, kWorkFolder,
    kUserId,   kPassword,     kInvokeEditor, kIsImmutable,   kSupressWarning, kIsCurrent,
    kCreatorId, kShareName,   kNewVersion,  kXrqShareName,
};

}  // namespace edms::arg
