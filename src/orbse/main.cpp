#include "orbse/run.h"
#include "runtime/platform.h"

int main(int argc, char** argv)
{
    orbse::platform::prepare_process();
    return orbse::run_inspector(orbse::platform::command_line_arguments(argc, argv));
}
