#include "sim/HeadlessHost.h"

namespace zemlix {

int32_t THeadlessHost::MaximumBugs() const { return static_cast<int32_t>(FindParameter("bugs")->Maximum); }
int32_t THeadlessHost::MaximumFood() const { return static_cast<int32_t>(FindParameter("food")->Maximum); }

}  // namespace zemlix
