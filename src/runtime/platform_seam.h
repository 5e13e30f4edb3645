// A seam for tests that prove the program against failing file operations:
// a hook, empty in the product, that the platform layer asks before every
// file operation and that can make it fail with a chosen code.
#pragma once

#include "runtime/platform.h"

namespace orbse::platform::seam {

enum class file_operation { open, create, read, write, size, position, close, remove, flush, rename };

// Answers 0 to let the operation go on, or the error code it fails with.
using fault_hook = error_code (*)(file_operation operation);

void install_fault_hook(fault_hook hook);

// Asked by each implementation at the start of every file operation.
error_code consult(file_operation operation);

// Answers 0 to let the system call go on, or the system's own error number
// (an errno on POSIX, a GetLastError code on Windows) that it fails with, as
// if the system had refused it: the platform layer then translates the
// number as it would a real one.
using system_error_hook = int (*)(file_operation operation);

void install_system_error_hook(system_error_hook hook);

// Asked by each implementation before every system call that reads a file.
int consult_system_error(file_operation operation);

} // namespace orbse::platform::seam
