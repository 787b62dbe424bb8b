// What the short-lived programs report: an exit code the starter reads (signed 32-bit) and,
// when it is not 0, the message the user was shown. One mapping from an exchange's outcome
// to those codes serves every program.
#pragma once
#include <string>

#include "common/transfer_verdict.h"
#include "common/win/exchange.h"

namespace edms::win {

enum ResultCode : int {
  kResultOk = 0,
  kResultInvalidUrl = 1,
  kResultCannotOpenFile = 2,
  kResultInternetFailure = 3,
  kResultOtherFailure = 4,
  kResultRegistryFailure = 5,  // the check-out record could not be opened or written
  kResultUncheckedEdits = 6,   // a working copy holds edits not checked in: it was left alone
  kResultShortBody = -1,       // commands that return a file: not the bytes announced
  kResultFileRefused = -2,     // commands that return a file: the server refused
  kResultRefused = -1,         // the other commands: the server refused
};

struct ProgramResult {
  int code = kResultOk;
  std::string message;  // shown when code is not 0
  bool ok() const { return code == kResultOk; }
};

// The program's own texts for the failures that bring none of their own.
struct ResultTexts {
  std::string invalidUrl;
  std::string otherFailure;
};

// Ok: 0. InvalidUrl: 1 with texts.invalidUrl. InternetFailure: 3 with WinInet's own text.
// Refused: `refusedCode` with the server's decoded text. OtherFailure: 4 with
// texts.otherFailure (callers that know a finer cause, such as a file that could not be
// created, say so over it).
ProgramResult ResultOfExchange(const ExchangeOutcome& outcome, int refusedCode, const ResultTexts& texts);

// The result of a download the server answered "00": 0 when complete; -1 with `networkError`
// for a size that is no byte count or a body that is not that size; 3 with WinInet's text when
// the peer went away mid-body; 4 with texts.otherFailure when the file could not be closed.
ProgramResult ResultOfTransfer(TransferVerdict verdict, const ResultTexts& texts, const std::string& networkError);

}  // namespace edms::win
