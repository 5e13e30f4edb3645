// The whole inspection of one save held in memory: load, the three pictures
// and the report, with the outputs thrown away; the field program's walk,
// dump and diff against a fixed save. Shared by the fuzzer and by the corpus
// replay of the ordinary test suite.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
