#include "orbse/run.h"

#include "images/map_renderings.h"
#include "orbsaves/save_loader.h"
#include "report/info_report.h"
#include "runtime/failure_report.h"
#include "runtime/failures.h"
#include "runtime/text_channel.h"

#include <memory>
#include <new>

namespace orbse {
namespace {

// Ends the report channel after a failure: its text reached the file in the
// failure report already, and the run fails whatever the close says.
void close_after_failure(text_channel& report_output)
{
    report_output.close();
    pending_io_error = 0;
}

} // namespace

picture_names pictures_beside(const std::string& save_path)
{
    return {save_path + "_pass.bmp", save_path + "_rm1.bmp", save_path + "_rm2.bmp"};
}

void inspect_save(const std::string& save_path, const picture_names& pictures, text_channel& report_output)
{
    auto save = std::make_unique<saveorec>();
    load_save(*save, save_path);
    render_pass_map(*save, pictures.pass);
    render_rm1_map(*save, pictures.rm1);
    render_rm2_map(*save, pictures.rm2);
    write_info_report(*save, report_output);
}

void inspect_save(const std::string& save_path, text_channel& report_output)
{
    inspect_save(save_path, pictures_beside(save_path), report_output);
}

int run_inspector(const std::vector<std::string>& arguments)
{
    install_memory_failure_handler();
    if (arguments.size() != 1) {
        return exit_success;
    }
    const std::string& save_path = arguments.front();
    text_channel report_output;
    try {
        report_output.bind(save_path + ".inf");
        inspect_save(save_path, report_output);
        // Report text that never reaches the disk fails the run.
        report_output.close();
        io_check();
        return exit_success;
    } catch (const failure& raised) {
        report_failure(raised, report_output);
    } catch (const std::bad_alloc&) {
        report_failure(memory_failure(code_site(check_site::current())), report_output);
    }
    close_after_failure(report_output);
    return exit_failure;
}

} // namespace orbse
