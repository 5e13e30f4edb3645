#include "fields/save_input.h"

#include "fields/commands.h"
#include "runtime/failures.h"
#include "runtime/platform.h"

#include <algorithm>
#include <new>

namespace orbse::fields {

std::unique_ptr<save_input> save_input::prepare(const std::string& given)
{
    // A folder opens on POSIX and only fails at the first read, and Windows
    // refuses it as access denied: both say less than what is wrong.
    if (given != standard_input_name && platform::is_folder(given)) {
        report_problem(given, "Is a folder, not a save file");
        return nullptr;
    }
    try {
        std::unique_ptr<save_input> input(new save_input(given));
        if (given == standard_input_name) {
            input->spool_ = std::make_unique<spooled_input>();
        }
        return input;
    } catch (const failure& failed) {
        report_problem(given, failed.message());
    } catch (const std::bad_alloc&) {
        report_problem(given, "Out of memory");
    }
    return nullptr;
}

bool names_standard_input_twice(const std::vector<std::string>& saves)
{
    return std::count(saves.begin(), saves.end(), standard_input_name) > 1;
}

} // namespace orbse::fields
