// One logged-in page connection as the command service sees it.
#pragma once
#include <string>

#include "common/data_message.h"

namespace edms {

// The object stays valid for as long as anyone holds it, so a reply may be pushed from any
// thread at any time; a reply to a connection that has closed is dropped.
class WebsocketClient {
 public:
  virtual ~WebsocketClient() = default;
  // The text of the connection's first data message. Fixed once the client exists.
  virtual const std::string& key() const = 0;
  // Queues `reply` for sending. Never blocks on the network, never throws.
  virtual void PushPacket(const DataMessage& reply) = 0;
};

}  // namespace edms
