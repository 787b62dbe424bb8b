#include "common/win/program_result.h"

#include <windows.h>
#include <wininet.h>

#include "common/win/internet_error.h"

namespace edms::win {

ProgramResult ResultOfExchange(const ExchangeOutcome& outcome, int refusedCode, const ResultTexts& texts) {
  using Kind = ExchangeOutcome::Kind;
  switch (outcome.kind) {
    case Kind::Ok:
      return {kResultOk, {}};
    case Kind::InvalidUrl:
      return {kResultInvalidUrl, texts.invalidUrl};
    case Kind::InternetFailure:
      return {kResultInternetFailure, outcome.message};
    case Kind::Refused:
      return {refusedCode, outcome.reply.codeDesc};
    case Kind::OtherFailure:
      break;
  }
  return {kResultOtherFailure, texts.otherFailure};
}

ProgramResult ResultOfTransfer(TransferVerdict verdict, const ResultTexts& texts, const std::string& networkError) {
  switch (verdict) {
    case TransferVerdict::kComplete:
      return {kResultOk, {}};
    case TransferVerdict::kNotClosed:
      return {kResultOtherFailure, texts.otherFailure};
    case TransferVerdict::kCutOff:
      return {kResultInternetFailure, InternetErrorMessage(ERROR_INTERNET_CONNECTION_ABORTED)};
    case TransferVerdict::kBadSize:
    case TransferVerdict::kShort:
      break;
  }
  return {kResultShortBody, networkError};
}

}  // namespace edms::win
