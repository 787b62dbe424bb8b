#include "common/win/program_result.h"

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

}  // namespace edms::win
