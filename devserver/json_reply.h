// A reply whose body is one JSON value (the admin API and the page's document list).
#pragma once
#include <nlohmann/json.hpp>

#include "devserver/http_reply.h"

namespace devserver {

inline HttpReply JsonReply(int status, const nlohmann::json& value) {
  HttpReply r;
  r.status = status;
  r.headers.emplace_back("Content-Type", "application/json; charset=utf-8");
  r.headers.emplace_back("Cache-Control", "no-store");
  // Text that came in through the adaptor (a check-in note) need not be UTF-8: never throw on it.
  r.body = value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  return r;
}

}  // namespace devserver
