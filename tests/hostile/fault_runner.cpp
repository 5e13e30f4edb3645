// The inspector with its fault seams armed from the environment, for tests
// that sweep a run through every allocation and every file operation:
//   ORBSE_FAIL_ALLOCATION=N   allocation N of the run fails (1 is the first)
//   ORBSE_FAIL_FILE_OPERATION=N, ORBSE_FAIL_CODE=C
//                             file operation N of the run (open, create, read,
//                             write, size, position or close) fails with code C
//   ORBSE_FAIL_SYSTEM_READ=N, ORBSE_FAIL_SYSTEM_ERROR=E
//                             system call N of the run that reads a file fails
//                             with the system's own error E (an errno), which
//                             the platform layer translates as a real one
//   ORBSE_COUNT_FILE=PATH     the run's totals (allocations, file operations,
//                             peak resident memory) are written there at its end
// The product's own executable has none of this.
#include "counting_allocator.h"
#include "orbse/run.h"
#include "runtime/platform.h"
#include "runtime/platform_seam.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::uint64_t environment_number(const char* name)
{
    const char* text = std::getenv(name);
    return text == nullptr ? 0 : std::strtoull(text, nullptr, 10);
}

std::uint64_t file_operations_counted = 0;
std::uint64_t failing_file_operation = 0;
orbse::platform::error_code injected_code = 0;
std::uint64_t system_reads_counted = 0;
std::uint64_t failing_system_read = 0;
int injected_system_error = 0;

orbse::platform::error_code count_file_operation(orbse::platform::seam::file_operation)
{
    ++file_operations_counted;
    return file_operations_counted == failing_file_operation ? injected_code : 0;
}

int count_system_read(orbse::platform::seam::file_operation)
{
    ++system_reads_counted;
    return system_reads_counted == failing_system_read ? injected_system_error : 0;
}

// The peak resident memory of this program since it started. The kernel's
// own rusage figure would count the memory of the test process that forked
// it; the high-water mark of the current image does not.
std::uint64_t peak_resident_bytes()
{
    std::FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) {
        return 0;
    }
    char line[256];
    unsigned long long kilobytes = 0;
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::sscanf(line, "VmHWM: %llu kB", &kilobytes) == 1) {
            break;
        }
    }
    std::fclose(status);
    return kilobytes * 1024;
}

void write_totals(std::uint64_t allocations)
{
    const char* path = std::getenv("ORBSE_COUNT_FILE");
    if (path == nullptr) {
        return;
    }
    if (std::FILE* file = std::fopen(path, "w")) {
        std::fprintf(file, "allocations %llu\nfile_operations %llu\npeak_resident_bytes %llu\n",
                     static_cast<unsigned long long>(allocations),
                     static_cast<unsigned long long>(file_operations_counted),
                     static_cast<unsigned long long>(peak_resident_bytes()));
        std::fclose(file);
    }
}

} // namespace

int main(int argc, char** argv)
{
    orbse::platform::prepare_process();
    const auto arguments = orbse::platform::command_line_arguments(argc, argv);
    failing_file_operation = environment_number("ORBSE_FAIL_FILE_OPERATION");
    injected_code = static_cast<orbse::platform::error_code>(environment_number("ORBSE_FAIL_CODE"));
    orbse::platform::seam::install_fault_hook(count_file_operation);
    failing_system_read = environment_number("ORBSE_FAIL_SYSTEM_READ");
    injected_system_error = static_cast<int>(environment_number("ORBSE_FAIL_SYSTEM_ERROR"));
    orbse::platform::seam::install_system_error_hook(count_system_read);
    orbse::testing::fail_allocation(environment_number("ORBSE_FAIL_ALLOCATION"));
    const int exit_code = orbse::run_inspector(arguments);
    const std::uint64_t allocations = orbse::testing::allocations_counted();
    orbse::testing::fail_allocation(0);
    write_totals(allocations);
    return exit_code;
}
