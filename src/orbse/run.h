// One run of the inspector, from the words of the command line to the exit
// code.
#pragma once

#include <string>
#include <vector>

namespace orbse {

class text_channel;

// The names of the three pictures of a run: the save's name with the
// suffixes appended, byte for byte.
struct picture_names {
    std::string pass;
    std::string rm1;
    std::string rm2;
};

picture_names pictures_beside(const std::string& save_path);

// The stages of one run in their fixed order: load the save, draw the three
// pictures, write the report through `report_output`, which is bound and
// still open for its last bytes when this returns. A failure leaves it as a
// failure of the run: raised, never caught here.
void inspect_save(const std::string& save_path, const picture_names& pictures, text_channel& report_output);
void inspect_save(const std::string& save_path, text_channel& report_output);

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1;

// Runs on the one save named by `arguments`; any other count of arguments
// does nothing. Returns the exit code.
int run_inspector(const std::vector<std::string>& arguments);

} // namespace orbse
