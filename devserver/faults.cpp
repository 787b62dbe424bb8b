#include "devserver/faults.h"

#include "devserver/store.h"

namespace devserver {

std::optional<FaultMode> FaultModeFromName(const std::string& name) {
  static const std::map<std::string, FaultMode> kModes = {
      {"refuse", FaultMode::Refuse},     {"short", FaultMode::ShortBody},
      {"close", FaultMode::CloseEarly},  {"delay", FaultMode::Delay},
      {"big_headers", FaultMode::BigHeaders}, {"hold", FaultMode::Hold}};
  auto it = kModes.find(name);
  if (it == kModes.end()) return std::nullopt;
  return it->second;
}

void Faults::Add(Fault fault) {
  std::lock_guard<std::mutex> lock(mutex_);
  fault.holdTicket = releases_;
  faults_.push_back(std::move(fault));
}

void Faults::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  faults_.clear();
  ++releases_;
  released_.notify_all();
}

void Faults::Release() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++releases_;
  released_.notify_all();
}

bool Faults::WaitReleased(uint64_t ticket, std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  return released_.wait_for(lock, wait, [&] { return releases_ != ticket; });
}

std::vector<Fault> Faults::List() {
  std::lock_guard<std::mutex> lock(mutex_);
  return faults_;
}

std::optional<Fault> Faults::Take(const AdaptorRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->command != request.format->name) continue;
    if (!it->object.empty() && it->object != request.Field("XRQ_OBJECT")) continue;
    Fault taken = *it;
    if (it->times > 0 && --it->times == 0) faults_.erase(it);
    return taken;
  }
  return std::nullopt;
}

void Faults::Record(const AdaptorRequest& request) {
  ReceivedRequest r{std::string(request.format->name), request.fields, request.raw, request.uploadSize,
                    Store::NowUtc()};
  std::lock_guard<std::mutex> lock(mutex_);
  last_[r.command] = std::move(r);
}

std::optional<ReceivedRequest> Faults::Last(const std::string& command) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = last_.find(command);
  if (it == last_.end()) return std::nullopt;
  return it->second;
}

}  // namespace devserver
