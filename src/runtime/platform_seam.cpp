#include "runtime/platform_seam.h"

namespace orbse::platform::seam {
namespace {
fault_hook installed_hook = nullptr;
system_error_hook installed_system_error_hook = nullptr;
} // namespace

void install_fault_hook(fault_hook hook) { installed_hook = hook; }

error_code consult(file_operation operation)
{
    return installed_hook == nullptr ? 0 : installed_hook(operation);
}

void install_system_error_hook(system_error_hook hook) { installed_system_error_hook = hook; }

int consult_system_error(file_operation operation)
{
    return installed_system_error_hook == nullptr ? 0 : installed_system_error_hook(operation);
}

} // namespace orbse::platform::seam
