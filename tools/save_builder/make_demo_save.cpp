// Writes the bundled demo save: a plausible four-player version-70 game on a
// map with sea, coast, land and mountains, and resource fields of each kind.
#include "demo_save.h"
#include "save_builder.h"

#include <cstdio>
#include <exception>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_demo_save OUTPUT\n");
        return 2;
    }
    try {
        orbse::save_builder::write_file(argv[1], orbse::save_builder::build_save(orbse::save_builder::demo_save()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_demo_save: %s\n", error.what());
        return 1;
    }
    return 0;
}
