#include "agent/service/periodic_checks.h"

#include <utility>

#include "common/encoding.h"
#include "common/win/exchange.h"
#include "common/working_copy.h"

namespace edms {
namespace {

int ResultOf(const win::ExchangeOutcome& outcome) {
  return win::ResultOfExchange(outcome, win::kResultRefused, {}).code;
}

}  // namespace

CheckAnswer CheckNewMessages(const CheckInputs& inputs) {
  const win::ExchangeOutcome outcome = win::PostForm(inputs.adaptorUrl, Command::GetNewMsgCount, {inputs.user});
  CheckAnswer answer;
  answer.kind = CheckAnswer::Kind::Notices;
  answer.result = ResultOf(outcome);
  // The count is the number the decoded description starts with.
  if (answer.result == kCheckOk) answer.count = ParseFileSize(outcome.reply.codeDesc);
  return answer;
}

CheckAnswer CheckForUpdate(const CheckInputs& inputs) {
  const win::ExchangeOutcome outcome =
      win::PostForm(inputs.adaptorUrl, Command::CheckUpdate, {inputs.appType, inputs.appVersion, inputs.user});
  CheckAnswer answer;
  answer.kind = CheckAnswer::Kind::Update;
  answer.result = ResultOf(outcome);
  if (answer.result == kCheckOk) {
    answer.version = outcome.reply.codeDesc;
    // This reply carries its size hex-encoded, unlike the file replies.
    answer.size = ParseFileSize(HexDecodeUtf8(outcome.reply.fileSize));
  }
  return answer;
}

PeriodicChecks::PeriodicChecks(std::function<void()> announce) : announce_(std::move(announce)) {}

bool PeriodicChecks::Ask(CheckAnswer::Kind kind, CheckInputs inputs) {
  return queue_.Post([this, kind, inputs = std::move(inputs)] {
    CheckAnswer answer = kind == CheckAnswer::Kind::Notices ? CheckNewMessages(inputs) : CheckForUpdate(inputs);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answers_.push_back(std::move(answer));
    }
    if (announce_) announce_();
  });
}

std::vector<CheckAnswer> PeriodicChecks::TakeAnswers() {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(answers_, {});
}

}  // namespace edms
