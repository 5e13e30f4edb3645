#include "pipeline_target.h"

#include "fields/commands.h"
#include "fields/dump_writer.h"
#include "fields/output_stream.h"
#include "orbsaves/save_walk.h"
#include "orbse/run.h"
#include "runtime/data_file.h"
#include "runtime/failures.h"
#include "runtime/platform.h"
#include "sample_saves.h"
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

// The save every input is compared with, written once and removed when the
// process ends normally.
const std::string& diff_seed_path()
{
    // Never destroyed, so that the exit handler can still name it.
    static const std::string& path = *[] {
        auto* seed = new std::string(scratch_path("-seed.sav"));
        orbse::save_builder::write_file(*seed, orbse::save_builder::build_save(orbse::save_builder::stream_rich_save(70)));
        std::atexit([] { std::remove(diff_seed_path().c_str()); });
        return seed;
    }();
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

// The walk over the same input, its leaves written as dump's document into
// a discarding output: they must tile the file from its start (each begins
// where the one before ended), the writer must take every walk, however it
// ends, without a part it cannot place (which it raises), and the walk must
// reach the end exactly when the loader did, and break exactly where a
// short read ended the loading.
void walk(std::size_t size, bool loaded_whole, bool ended_short)
{
    orbse::platform::native_file discard;
    if (orbse::platform::create_always("/dev/null", false, discard) != 0) {
        std::abort(); // the harness itself is broken, not the program
    }
    std::uint64_t tiled = 0;
    bool broken = false;
    std::uint64_t break_offset = 0;
    std::uint64_t break_needed = 0;
    {
        orbse::fields::output_stream out(discard);
        orbse::fields::dump_writer writer(out);
        orbse::save_walk walked(scratch_save_path());
        for (auto record = walked.next(); !record.empty(); record = walked.next()) {
            for (const orbse::field_leaf& leaf : record) {
                if (leaf.offset != tiled || leaf.size == 0) {
                    std::abort();
                }
                tiled = leaf.offset + leaf.size;
                writer.take(leaf);
            }
        }
        const auto& summary = walked.summary();
        writer.finish(summary.broken ? &*summary.broken : nullptr);
        broken = summary.broken.has_value();
        if (broken) {
            break_offset = summary.broken->offset;
            break_needed = summary.broken->needed;
        }
    }
    orbse::platform::close(discard);
    if (!loaded_whole && !ended_short) {
        return; // the loading ended for want of memory: nothing to compare with
    }
    if (broken) {
        if (!ended_short || break_offset > size || break_offset + break_needed <= size) {
            std::abort();
        }
    } else if (!loaded_whole || tiled != size) {
        std::abort();
    }
}

// orbse-fields diff of the input against a fixed save, its output thrown
// away: it must run to an answer (0, 1) whatever the input holds; trouble
// (2) would mean that the two walks or the comparison lost their way.
void diff_with_seed()
{
    orbse::platform::native_file discarded;
    if (orbse::platform::create_always("/dev/null", false, discarded) != 0) {
        std::abort();
    }
    int code = 0;
    {
        orbse::fields::output_stream out(discarded);
        code = orbse::fields::diff_saves({scratch_save_path(), diff_seed_path()}, false, out);
    }
    orbse::platform::close(discarded);
    if (code != orbse::fields::exit_done && code != orbse::fields::exit_damaged) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool memory_failure_installed = (orbse::install_memory_failure_handler(), true);
    static_cast<void>(memory_failure_installed);
    write_scratch_save(data, size);
    orbse::text_channel report_output;
    report_output.bind(scratch_report_path());
    bool loaded_whole = false;
    bool ended_short = false;
    try {
        orbse::inspect_save(scratch_save_path(), discarded_pictures, report_output);
        loaded_whole = true;
        report_output.close();
        orbse::io_check();
    } catch (const orbse::io_failure& failed) {
        ended_short = failed.code() == orbse::read_beyond_end;
        report_output.close();
        orbse::pending_io_error = 0;
    } catch (const orbse::failure&) {
        // A clean failure is a correct answer to a damaged save.
        report_output.close();
        orbse::pending_io_error = 0;
    }
    walk(size, loaded_whole, ended_short);
    diff_with_seed();
    remove_scratch_files();
    return 0;
}
