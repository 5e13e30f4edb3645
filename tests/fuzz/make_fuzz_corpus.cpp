// Writes the fuzzer's seed corpus into a folder, one file per seed.
#include "fuzz_seeds.h"

#include <cstdio>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus FOLDER\n");
        return 2;
    }
    try {
        for (const auto& [name, content] : orbse::testing::fuzz_seeds()) {
            orbse::save_builder::write_file(std::string(argv[1]) + "/" + name + ".sav", content);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "make_fuzz_corpus: %s\n", error.what());
        return 1;
    }
    return 0;
}
