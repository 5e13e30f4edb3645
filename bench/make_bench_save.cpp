// Writes one of the benchmark saves:
//   make_bench_save KIND SIZE PATH
// KIND is mixed, reference_lists, long_paths, deep_chain, many_units or
// wrapped_units, or front_only for the mix's front without any unit, or
// mixed_unit_added for the mixed save with one unit more in the middle of its
// first list, numbered as a game would (its references name only the groups'
// objects, so they stay as they are). SIZE is
// the file size in megabytes (MiB), or for deep_chain the number of linked
// units.
#include "bench_saves.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace {

constexpr std::uint64_t megabyte = 1024 * 1024;

int usage()
{
    std::fputs("usage: make_bench_save KIND SIZE PATH\n"
               "  KIND: mixed, reference_lists, long_paths, deep_chain, many_units, wrapped_units, long_tail, front_only\n"
               "        or mixed_unit_added\n"
               "  SIZE: megabytes, or for deep_chain the number of linked units\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    namespace sb = orbse::save_builder;
    if (argc != 4) {
        return usage();
    }
    const std::string kind_name = argv[1];
    const std::uint64_t size = std::strtoull(argv[2], nullptr, 10);
    const std::string path = argv[3];
    try {
        if (kind_name == "front_only") {
            sb::write_file(path, sb::build_save(orbse::bench::front_only_save()));
            return 0;
        }
        if (kind_name == "mixed_unit_added") {
            auto save = orbse::bench::describe_save(orbse::bench::save_kind::mixed, size * megabyte);
            auto& slots = save.unit_lists.at(0).slots;
            auto built = slots.at(1);
            built.chain.at(0).selected = 7;
            slots.insert(slots.begin() + static_cast<std::ptrdiff_t>(slots.size() / 2), built);
            sb::number_units(save);
            sb::write_file(path, sb::build_save(save));
            return 0;
        }
        const auto kind = orbse::bench::kind_named(kind_name);
        if (!kind) {
            return usage();
        }
        const std::uint64_t wanted = *kind == orbse::bench::save_kind::deep_chain ? size : size * megabyte;
        sb::write_file(path, sb::build_save(orbse::bench::describe_save(*kind, wanted)));
    } catch (const std::exception& failed) {
        std::fprintf(stderr, "make_bench_save: %s\n", failed.what());
        return 1;
    }
    return 0;
}
