#pragma once

#include <string>

#include "publish/plan.h"

namespace publish {

// The plan for an operator: what changes, with the numbers players see now
// and the new ones.
std::string DescribePlan(const Plan& plan);

}  // namespace publish
