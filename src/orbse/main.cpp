#include "orbse/run.h"
#include "runtime/platform.h"

int main(int argc, char** argv)
{
    return orbse::run_inspector(orbse::platform::command_line_arguments(argc, argv));
}
