// Makes one file operation of the platform fail, through the seam the
// platform layer asks before every operation: the operation of one kind
// numbered `failing` (from 1; 0 fails none) answers `code`, for as long as
// the object lives. Counts the operations of that kind meanwhile.
#pragma once

#include "runtime/platform_seam.h"

#include <cstdint>

namespace orbse::testing {

class failing_file_operation {
public:
    failing_file_operation(platform::seam::file_operation operation, std::uint64_t failing,
                           platform::error_code code)
    {
        failing_kind = operation;
        seen = 0;
        failing_number = failing;
        injected = code;
        platform::seam::install_fault_hook(&consult);
    }
    ~failing_file_operation() { platform::seam::install_fault_hook(nullptr); }

    failing_file_operation(const failing_file_operation&) = delete;
    failing_file_operation& operator=(const failing_file_operation&) = delete;

    // How many operations of the kind were asked for so far.
    static std::uint64_t operations_seen() { return seen; }

private:
    static platform::error_code consult(platform::seam::file_operation operation)
    {
        if (operation != failing_kind) {
            return 0;
        }
        return ++seen == failing_number ? injected : 0;
    }

    static inline platform::seam::file_operation failing_kind = platform::seam::file_operation::write;
    static inline std::uint64_t seen = 0;
    static inline std::uint64_t failing_number = 0;
    static inline platform::error_code injected = 0;
};

} // namespace orbse::testing
