#include "pipeline_target.h"

#include "orbse/run.h"
#include "runtime/failures.h"
#include "runtime/text_channel.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

// The loader reads files, so each input goes to one scratch file, in memory
// where the system offers it. The report goes beside it: a regular file gets
// the report channel's block writes, where a device would see one write per
// line.
std::string scratch_path(const char* suffix)
{
    const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(folder) + "/orbse-fuzz-" + std::to_string(::getpid()) + suffix;
}

const std::string& scratch_save_path()
{
    static const std::string path = scratch_path(".sav");
    return path;
}

const std::string& scratch_report_path()
{
    static const std::string path = scratch_path(".inf");
    return path;
}

// The scratch files go after each input, so that runs do not pile them up
// (the fuzzer may end without running exit handlers); a crash leaves them.
void remove_scratch_files()
{
    std::remove(scratch_save_path().c_str());
    std::remove(scratch_report_path().c_str());
}

void write_scratch_save(const std::uint8_t* data, std::size_t size)
{
    std::FILE* file = std::fopen(scratch_save_path().c_str(), "wb");
    if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
        std::abort(); // the harness itself is broken, not the program
    }
}

// The pictures are thrown away as they are written.
const orbse::picture_names discarded_pictures{"/dev/null", "/dev/null", "/dev/null"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool memory_failure_installed = (orbse::install_memory_failure_handler(), true);
    static_cast<void>(memory_failure_installed);
    write_scratch_save(data, size);
    orbse::text_channel report_output;
    report_output.bind(scratch_report_path());
    try {
        orbse::inspect_save(scratch_save_path(), discarded_pictures, report_output);
        report_output.close();
        orbse::io_check();
    } catch (const orbse::failure&) {
        // A clean failure is a correct answer to a damaged save.
        report_output.close();
        orbse::pending_io_error = 0;
    }
    remove_scratch_files();
    return 0;
}
