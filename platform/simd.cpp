// The builds of the vector kernels (platform/simd.h), as Highway sees them
// with the library's own choice of targets.
#include "platform/simd.h"

#include <hwy/targets.h>

namespace orbimg::simd {

std::vector<std::int64_t> Targets() { return hwy::SupportedAndGeneratedTargets(); }

const char* TargetName(std::int64_t target) { return hwy::TargetName(target); }

ForceTarget::ForceTarget(std::int64_t target) { hwy::SetSupportedTargetsForTest(target); }

ForceTarget::~ForceTarget() { hwy::SetSupportedTargetsForTest(0); }

}  // namespace orbimg::simd
