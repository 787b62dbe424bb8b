// The EDMS session user of this computer: FindSessionUser's search over the real network
// connections and their meta streams.
#pragma once
#include <string>
#include <string_view>

namespace edms {

// May block for as long as a share takes to answer: only ever call it off the I/O and window
// threads. Empty when `serverAddress` is empty or no mapped share names a user.
std::string FindSessionUser(std::string_view serverAddress);

}  // namespace edms
