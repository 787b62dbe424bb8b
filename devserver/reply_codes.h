// Return codes the adaptor sends in XRS_RTNCODE. Only "00" is success.
#pragma once

namespace devserver::code {

inline constexpr const char* kOk = "00";
inline constexpr const char* kNoDocument = "10";      // unknown document or page
inline constexpr const char* kNoVersion = "11";       // unknown version
inline constexpr const char* kHeldByOther = "20";     // another user holds the check-out
inline constexpr const char* kNotHeld = "21";         // the caller holds no check-out
inline constexpr const char* kVersionRule = "22";     // check-in version not allowed
inline constexpr const char* kNoUpdate = "30";        // no such update package
inline constexpr const char* kBadRequest = "90";      // missing field, undecodable value
inline constexpr const char* kUnknownCommand = "91";
inline constexpr const char* kWrongRoute = "92";      // wrong method or path
inline constexpr const char* kHeadersTooLarge = "93";
inline constexpr const char* kBodyTooLarge = "94";
inline constexpr const char* kInternal = "99";        // storage failure

}  // namespace devserver::code
