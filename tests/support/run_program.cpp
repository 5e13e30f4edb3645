#include "support/run_program.h"
#include "support/run_program_posix.h"

#include "support/test_files.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace orbse::testing {
namespace {

[[noreturn]] void exec_child(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& working_folder, int output, int error,
                             const std::function<void()>& prepare)
{
    ::dup2(output, STDOUT_FILENO);
    ::dup2(error, STDERR_FILENO);
    if (prepare) {
        prepare();
    }
    if (!working_folder.empty() && ::chdir(working_folder.c_str()) != 0) {
        ::_exit(127);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
}

int open_capture(const std::string& path)
{
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        throw std::runtime_error("cannot create " + path);
    }
    return descriptor;
}

// `started`, when given, runs in the test once the child is on its way,
// before the test waits for it.
program_result run_in_child(const std::string& program, const std::vector<std::string>& arguments,
                            const std::string& working_folder, const std::function<void()>& prepare,
                            const std::function<void()>& started = {})
{
    temp_folder captures;
    const std::string output_path = captures.file("stdout");
    const std::string error_path = captures.file("stderr");
    const int output = open_capture(output_path);
    const int error = open_capture(error_path);
    const pid_t child = ::fork();
    if (child == 0) {
        exec_child(program, arguments, working_folder, output, error, prepare);
    }
    ::close(output);
    ::close(error);
    if (child < 0) {
        throw std::runtime_error("cannot start " + program);
    }
    if (started) {
        started();
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    program_result result;
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.standard_output = read_text_file(output_path);
    result.standard_error = read_text_file(error_path);
    return result;
}

} // namespace

const std::string& inspector_path()
{
    static const std::string path = ORBSE_EXECUTABLE;
    return path;
}

program_result run_program(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& working_folder)
{
    return run_in_child(program, arguments, working_folder, {});
}

program_result run_prepared(const std::string& program, const std::vector<std::string>& arguments,
                            const std::function<void()>& prepare)
{
    return run_in_child(program, arguments, {}, prepare);
}

program_result run_with_input(const std::string& program, const std::vector<std::string>& arguments,
                              const std::string& input, const std::string& temporary_folder)
{
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) {
        throw std::runtime_error("cannot make a pipe");
    }
    const auto prepare = [&] {
        ::dup2(pipe_ends[0], STDIN_FILENO);
        ::setenv("TMPDIR", temporary_folder.c_str(), 1);
    };
    // A child that stops reading early (a usage error) closes the pipe: the
    // write then fails with EPIPE rather than ending the test with SIGPIPE.
    const auto feed = [&] {
        ::close(pipe_ends[0]);
        struct sigaction ignore {};
        struct sigaction earlier {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &earlier);
        for (std::size_t written = 0; written < input.size();) {
            const ssize_t put = ::write(pipe_ends[1], input.data() + written, input.size() - written);
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                break;
            }
            written += static_cast<std::size_t>(put);
        }
        ::close(pipe_ends[1]);
        ::sigaction(SIGPIPE, &earlier, nullptr);
    };
    return run_in_child(program, arguments, {}, prepare, feed);
}

program_result run_inspector(const std::vector<std::string>& arguments, const std::string& working_folder)
{
    return run_program(inspector_path(), arguments, working_folder);
}

} // namespace orbse::testing
