// The inspector's stages measured one by one with Google Benchmark: loading
// saves of each kind and size, the three pictures, and the report with what
// its 128-byte blocks cost. The saves are generated at start into a work
// folder and removed at the end.
//
// Besides Google Benchmark's own flags:
//   --sizes=1,16,256          sizes in MB of the mixed saves to load
//   --kind_size=16            size in MB of the other kinds' saves and of the listing
//   --chain_levels=125000,... lengths of the linked-unit chains to load
//   --work_dir=PATH           where the saves go (default: a new folder in $TMPDIR or /tmp)
#include "bench_saves.h"
#include "demo_save.h"

#include "images/map_renderings.h"
#include "orbsaves/save_loader.h"
#include "report/info_report.h"
#include "runtime/failures.h"
#include "runtime/platform.h"
#include "runtime/text_channel.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace sb = orbse::save_builder;
namespace fs = std::filesystem;

constexpr std::uint64_t megabyte = 1024 * 1024;
constexpr int fixed_mmap_threshold = 128 * 1024; // the C library's own starting value
constexpr std::size_t picture_file_bytes = 3'211'318; // 896 x 896 pixels of 4 bytes and the headers

struct options {
    std::vector<std::uint64_t> sizes{1, 16, 256};
    std::uint64_t kind_size = 16;
    std::vector<std::uint64_t> chain_levels{125'000, 250'000, 500'000, 1'000'000};
    fs::path work_dir;
};

std::vector<std::uint64_t> numbers_in(std::string_view list)
{
    std::vector<std::uint64_t> numbers;
    while (!list.empty()) {
        const auto comma = list.find(',');
        numbers.push_back(std::strtoull(std::string(list.substr(0, comma)).c_str(), nullptr, 10));
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    }
    return numbers;
}

// Takes this program's own flags out of argv, leaving Google Benchmark's.
options take_options(int& argc, char** argv)
{
    options chosen;
    int kept = 1;
    for (int index = 1; index < argc; ++index) {
        const std::string_view argument = argv[index];
        const auto value_of = [&](std::string_view flag) { return argument.substr(flag.size()); };
        if (argument.starts_with("--sizes=")) {
            chosen.sizes = numbers_in(value_of("--sizes="));
        } else if (argument.starts_with("--kind_size=")) {
            chosen.kind_size = std::strtoull(std::string(value_of("--kind_size=")).c_str(), nullptr, 10);
        } else if (argument.starts_with("--chain_levels=")) {
            chosen.chain_levels = numbers_in(value_of("--chain_levels="));
        } else if (argument.starts_with("--work_dir=")) {
            chosen.work_dir = std::string(value_of("--work_dir="));
        } else {
            argv[kept++] = argv[index];
        }
    }
    argc = kept;
    return chosen;
}

fs::path fresh_work_dir()
{
    const char* temp = std::getenv("TMPDIR");
    const fs::path base = temp != nullptr && *temp != '\0' ? fs::path(temp) : fs::path("/tmp");
    std::string name = "orbse-bench-XXXXXX";
    const fs::path pattern = base / name;
    std::string writable = pattern.string();
    if (::mkdtemp(writable.data()) == nullptr) {
        throw std::runtime_error("cannot create a work folder in " + base.string());
    }
    return writable;
}

std::string write_save(const fs::path& folder, const std::string& name, const sb::save_description& description)
{
    const std::string path = (folder / name).string();
    sb::write_file(path, sb::build_save(description));
    return path;
}

std::uint64_t size_of(const std::string& path) { return fs::file_size(path); }

// Loading alone: open, read and store the whole save. The store is freed
// outside the timing; a fresh one starts every iteration.
void load_whole_save(benchmark::State& state, const std::string& path)
{
    for (auto _ : state) {
        auto save = std::make_unique<orbse::saveorec>();
        try {
            orbse::load_save(*save, path);
        } catch (const orbse::failure& raised) {
            state.SkipWithError(std::string(raised.message()).c_str());
            break;
        }
        benchmark::DoNotOptimize(save->unit_store.units.size());
        state.PauseTiming();
        save.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path)));
    state.counters["file_MB"] = static_cast<double>(size_of(path)) / megabyte;
}

void load_chain(benchmark::State& state, const std::string& path, std::uint64_t levels)
{
    load_whole_save(state, path);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * levels));
}

std::unique_ptr<orbse::saveorec> loaded(const std::string& path)
{
    auto save = std::make_unique<orbse::saveorec>();
    orbse::load_save(*save, path);
    return save;
}

void render_pictures(benchmark::State& state, const orbse::saveorec& save, const std::string& path)
{
    for (auto _ : state) {
        orbse::render_pass_map(save, path + "_pass.bmp");
        orbse::render_rm1_map(save, path + "_rm1.bmp");
        orbse::render_rm2_map(save, path + "_rm2.bmp");
    }
}

// What the floor does for the pictures: three files of a picture's size,
// each in one write from memory already filled.
void write_picture_bytes(benchmark::State& state, const std::string& path)
{
    const std::vector<unsigned char> picture(picture_file_bytes, 0xA5);
    for (auto _ : state) {
        for (const char* suffix : {"_pass.bmp", "_rm1.bmp", "_rm2.bmp"}) {
            orbse::platform::native_file file;
            if (orbse::platform::create_always(path + suffix, true, file) != 0) {
                state.SkipWithError("cannot create a picture copy");
                return;
            }
            std::size_t written = 0;
            orbse::platform::write(file, picture.data(), picture.size(), written);
            orbse::platform::close(file);
        }
    }
}

// The whole report as a run writes it: formatted line by line and handed to
// the OS in 128-byte blocks.
void write_report(benchmark::State& state, const orbse::saveorec& save, const std::string& path)
{
    for (auto _ : state) {
        orbse::text_channel report_output;
        report_output.bind(path + ".inf");
        orbse::write_info_report(save, report_output);
        report_output.close();
        orbse::io_check();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size_of(path + ".inf")));
}

std::vector<unsigned char> contents_of(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The report's finished bytes written in pieces of `piece` bytes, nothing
// formatted: with 128 this is the cost of the blocks alone, with the whole
// length the cost of one write.
void write_report_bytes(benchmark::State& state, const std::vector<unsigned char>& report, const std::string& path,
                        std::size_t piece)
{
    for (auto _ : state) {
        orbse::platform::native_file file;
        if (orbse::platform::create_always(path, false, file) != 0) {
            state.SkipWithError("cannot create the report copy");
            break;
        }
        for (std::size_t offset = 0; offset < report.size(); offset += piece) {
            std::size_t written = 0;
            orbse::platform::write(file, report.data() + offset, std::min(piece, report.size() - offset), written);
        }
        orbse::platform::close(file);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * report.size()));
}

void register_loads(const options& chosen)
{
    using orbse::bench::save_kind;
    // What every load costs whatever its stream: the front of the mix alone.
    const std::string front_path = write_save(chosen.work_dir, "front_only.sav", orbse::bench::front_only_save());
    benchmark::RegisterBenchmark("load/front_only", load_whole_save, front_path)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    for (const std::uint64_t size : chosen.sizes) {
        const std::string path = write_save(chosen.work_dir, "mixed_" + std::to_string(size) + "MB.sav",
                                            orbse::bench::describe_save(save_kind::mixed, size * megabyte));
        benchmark::RegisterBenchmark(("load/mixed/" + std::to_string(size) + "MB").c_str(), load_whole_save, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    for (const save_kind kind :
         {save_kind::reference_lists, save_kind::long_paths, save_kind::many_units, save_kind::wrapped_units,
          save_kind::long_tail}) {
        const std::string name(orbse::bench::name_of(kind));
        const std::string path = write_save(chosen.work_dir, name + ".sav",
                                            orbse::bench::describe_save(kind, chosen.kind_size * megabyte));
        benchmark::RegisterBenchmark(("load/" + name).c_str(), load_whole_save, path)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    for (const std::uint64_t levels : chosen.chain_levels) {
        const std::string path = write_save(chosen.work_dir, "chain_" + std::to_string(levels) + ".sav",
                                            orbse::bench::describe_save(save_kind::deep_chain, levels));
        benchmark::RegisterBenchmark(("load/deep_chain/" + std::to_string(levels)).c_str(), load_chain, path,
                                     levels)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
}

// The report of a save of listed units, the listing's cost per unit.
void register_listing(const options& chosen)
{
    static std::unique_ptr<orbse::saveorec> listed;
    const std::string path =
        write_save(chosen.work_dir, "listing.sav",
                   orbse::bench::describe_save(orbse::bench::save_kind::wrapped_units, chosen.kind_size * megabyte));
    listed = loaded(path);
    const std::size_t units = listed->unit_store.units.size();
    benchmark::RegisterBenchmark("report/wrapped_units", [path, units](benchmark::State& state) {
        write_report(state, *listed, path);
        state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * units));
    })->Unit(benchmark::kMillisecond)->UseRealTime();
}

// The demo save's stages: loading, the pictures and the report; for the
// last two the save stays loaded for the whole program.
void register_demo_stages(const options& chosen)
{
    static std::unique_ptr<orbse::saveorec> demo;
    static std::vector<unsigned char> report;
    const std::string path = write_save(chosen.work_dir, "demo.sav", sb::demo_save());
    demo = loaded(path);
    orbse::text_channel report_output;
    report_output.bind(path + ".inf");
    orbse::write_info_report(*demo, report_output);
    report_output.close();
    orbse::io_check();
    report = contents_of(path + ".inf");

    benchmark::RegisterBenchmark("demo/load", load_whole_save, path)->Unit(benchmark::kMillisecond)->UseRealTime();
    benchmark::RegisterBenchmark("demo/pictures", render_pictures, std::cref(*demo), path)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("demo/picture_bytes_in_one_write", write_picture_bytes, path + ".copy")
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("demo/report", write_report, std::cref(*demo), path)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("demo/report_bytes_in_128_byte_writes", write_report_bytes, std::cref(report),
                                 path + ".copy", orbse::text_channel::block_size)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("demo/report_bytes_in_one_write", write_report_bytes, std::cref(report),
                                 path + ".copy", report.size())
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

} // namespace

int main(int argc, char** argv)
{
    // A run of the inspector gets all its memory fresh from the system. By
    // default the C library would keep large freed blocks for the next
    // iteration, so a small save would load into memory already paged in
    // and a large one would not; a fixed threshold hands every large block
    // back, and every iteration pays for its pages as a run does.
    mallopt(M_MMAP_THRESHOLD, fixed_mmap_threshold);
    options chosen = take_options(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    const bool own_folder = chosen.work_dir.empty();
    try {
        if (own_folder) {
            chosen.work_dir = fresh_work_dir();
        }
        fs::create_directories(chosen.work_dir);
        register_demo_stages(chosen);
        register_listing(chosen);
        register_loads(chosen);
    } catch (const std::exception& failed) {
        std::fprintf(stderr, "inspector_benchmarks: cannot prepare the saves: %s\n", failed.what());
        return 1;
    } catch (const orbse::failure& raised) {
        std::fprintf(stderr, "inspector_benchmarks: cannot prepare the saves: %.*s\n",
                     static_cast<int>(raised.message().size()), raised.message().data());
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (own_folder) {
        std::error_code ignored;
        fs::remove_all(chosen.work_dir, ignored);
    }
    return 0;
}
