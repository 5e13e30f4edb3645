#include "runtime/platform_seam.h"

namespace orbse::platform::seam {
namespace {
fault_hook installed_hook = nullptr;
}

void install_fault_hook(fault_hook hook) { installed_hook = hook; }

error_code consult(file_operation operation)
{
    return installed_hook == nullptr ? 0 : installed_hook(operation);
}

} // namespace orbse::platform::seam
