// Caps the size of the files this process may write, for as long as the cap
// lives: a write that would pass the cap takes what fits and the next one
// fails, as on a disk that fills up. POSIX only; Windows has no such cap.
#pragma once

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>

namespace orbse::testing {

class file_size_cap {
public:
    explicit file_size_cap(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        // Passing the cap raises SIGXFSZ, which would end the test run.
        previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit capped = saved_;
        capped.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &capped);
    }
    ~file_size_cap()
    {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previous_handler_);
    }

    file_size_cap(const file_size_cap&) = delete;
    file_size_cap& operator=(const file_size_cap&) = delete;

private:
    rlimit saved_{};
    void (*previous_handler_)(int) = nullptr;
};

} // namespace orbse::testing
#endif
