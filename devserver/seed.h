// Demo data for an empty data folder (docs/devserver.md lists it).
#pragma once
#include "devserver/store.h"

namespace devserver {

// Fills the store when it holds no users and no documents; false when it was not
// empty (nothing is changed then). Throws std::runtime_error on a storage failure.
bool SeedDemoData(Store& store);

}  // namespace devserver
