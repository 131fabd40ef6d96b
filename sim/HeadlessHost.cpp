#include "sim/HeadlessHost.h"

#include "world/Settings.h"

namespace zemlix {

int32_t THeadlessHost::FieldWidth() const { return DefaultFieldWidth; }
int32_t THeadlessHost::FieldHeight() const { return DefaultFieldHeight; }

}  // namespace zemlix
