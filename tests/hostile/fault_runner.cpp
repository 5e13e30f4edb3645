// The inspector with its fault seams armed from the environment, for tests
// that sweep a run through every allocation and every file operation:
//   ORBSE_FAIL_ALLOCATION=N   allocation N of the run fails (1 is the first)
//   ORBSE_COUNT_FILE=PATH     the run's totals are written there at its end
// The product's own executable has none of this.
#include "counting_allocator.h"
#include "orbse/run.h"
#include "runtime/platform.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::uint64_t environment_number(const char* name)
{
    const char* text = std::getenv(name);
    return text == nullptr ? 0 : std::strtoull(text, nullptr, 10);
}

void write_totals(std::uint64_t allocations)
{
    const char* path = std::getenv("ORBSE_COUNT_FILE");
    if (path == nullptr) {
        return;
    }
    if (std::FILE* file = std::fopen(path, "w")) {
        std::fprintf(file, "allocations %llu\n", static_cast<unsigned long long>(allocations));
        std::fclose(file);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const auto arguments = orbse::platform::command_line_arguments(argc, argv);
    orbse::testing::fail_allocation(environment_number("ORBSE_FAIL_ALLOCATION"));
    const int exit_code = orbse::run_inspector(arguments);
    const std::uint64_t allocations = orbse::testing::allocations_counted();
    orbse::testing::fail_allocation(0);
    write_totals(allocations);
    return exit_code;
}
