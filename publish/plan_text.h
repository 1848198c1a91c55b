#pragma once

#include <string>

#include "publish/plan.h"

namespace publish {

// The plan for an operator: what changes, with the numbers players see now
// and the new ones.
std::string DescribePlan(const Plan& plan);

// The line printed while the publish waits for edge caches before `step`.
std::string WaitText(const Plan& plan, Step step);

}  // namespace publish
