#pragma once

#include <string>
#include <vector>

#include "publish/plan.h"

namespace publish {

// The plan for an operator: what changes, with the numbers players see now
// and the new ones.
std::string DescribePlan(const Plan& plan);

// Mirrors for an operator, in order: "a.example, b.example:8080", or "none".
std::string MirrorsText(const std::vector<std::string>& mirrors);

// The line printed while the publish waits for edge caches before `step`.
std::string WaitText(const Plan& plan, Step step);

}  // namespace publish
