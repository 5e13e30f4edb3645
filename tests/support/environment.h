// Changing the environment of the test process, which the programs it starts
// inherit. POSIX and the Windows C runtime name these calls differently.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace orbse::testing {

inline void set_environment(const std::string& name, const std::string& value)
{
#ifdef _WIN32
    ::_putenv_s(name.c_str(), value.c_str());
#else
    ::setenv(name.c_str(), value.c_str(), 1);
#endif
}

inline void unset_environment(const std::string& name)
{
#ifdef _WIN32
    ::_putenv_s(name.c_str(), ""); // an empty value removes the variable
#else
    ::unsetenv(name.c_str());
#endif
}

// Makes the C library read TZ again after it changed.
inline void reread_time_zone()
{
#ifdef _WIN32
    ::_tzset();
#else
    ::tzset();
#endif
}

} // namespace orbse::testing
