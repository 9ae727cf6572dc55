// A product environment (engine/ProductEnvironment.h) detected for the test
// prefix at construction, as the dialog's is when it starts. Each one asks
// the machine afresh: nothing is kept between environments.
#pragma once

#include "engine/ProductEnvironment.h"
#include "updatelist/UpdateList.h"

namespace vrtest {

struct DetectedEnvironment : ProductEnvironment {
  DetectedEnvironment() { Detect(); }
};

// An empty list over an environment of its own, detected first (the base
// named first is built first); list.environment() reads it.
class DetectedList : private DetectedEnvironment, public UpdateList {
 public:
  DetectedList() : UpdateList(static_cast<const ProductEnvironment&>(*this)) {}
};

}  // namespace vrtest
