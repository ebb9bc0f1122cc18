#include "host/app_delegate.h"

namespace dravel {

// Process services are not part of the platform yet.
void AppDelegate::terminateOtherInstances() {}

}  // namespace dravel
