// A seam for tests that prove the program against failing file operations:
// a hook, empty in the product, that the platform layer asks before every
// file operation and that can make it fail with a chosen code.
#pragma once

#include "runtime/platform.h"

namespace orbse::platform::seam {

enum class file_operation { open, create, read, write, size, position, close };

// Answers 0 to let the operation go on, or the error code it fails with.
using fault_hook = error_code (*)(file_operation operation);

void install_fault_hook(fault_hook hook);

// Asked by each implementation at the start of every file operation.
error_code consult(file_operation operation);

} // namespace orbse::platform::seam
