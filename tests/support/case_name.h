// Names the cases of a parameterized test by their own `name` member, so a
// test's name says what it checks and stays the same from build to build:
//   INSTANTIATE_TEST_SUITE_P(table, suite, ::testing::ValuesIn(cases), testing::case_name{});
// A name may hold letters, digits and underscores only.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace orbse::testing {

struct case_name {
    template <typename test_case>
    std::string operator()(const ::testing::TestParamInfo<test_case>& info) const
    {
        return std::string(info.param.name);
    }
};

} // namespace orbse::testing
