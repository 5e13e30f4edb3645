// Windows variant of running a program: CreateProcessA with a raw command
// line, standard output and error captured in files.
#include "support/run_program_win32.h"

#include "support/test_files.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string_view>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace orbse::testing {
namespace {

// Closes a handle when the test is done with it, however it leaves.
class owned_handle {
public:
    explicit owned_handle(HANDLE handle) : handle_(handle) {}
    ~owned_handle() { close(); }
    void close()
    {
        if (handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
        handle_ = nullptr;
    }
    owned_handle(const owned_handle&) = delete;
    owned_handle& operator=(const owned_handle&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

HANDLE create_capture(const std::string& path)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const HANDLE capture = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (capture == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("cannot create " + path);
    }
    return capture;
}

std::string_view file_name_of(std::string_view path)
{
    const auto separator = path.find_last_of("\\/");
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

std::string folder_of_this_program()
{
    char path[MAX_PATH + 1]{};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH + 1);
    const std::string_view full(path, length);
    const auto separator = full.find_last_of("\\/");
    return separator == std::string_view::npos ? std::string() : std::string(full.substr(0, separator + 1));
}

// A pipe whose reading end the program inherits as its standard input.
struct input_pipe {
    HANDLE reading = nullptr;
    HANDLE writing = nullptr;
};

input_pipe make_input_pipe()
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    input_pipe pipe;
    if (!::CreatePipe(&pipe.reading, &pipe.writing, &inheritable, 0) ||
        !::SetHandleInformation(pipe.writing, HANDLE_FLAG_INHERIT, 0)) {
        throw std::runtime_error("cannot make a pipe");
    }
    return pipe;
}

// Writes all of `input`, or what the program takes before it closes its
// end; closing ours then tells it the input has ended.
void feed(const owned_handle& writing, const std::string& input)
{
    for (std::size_t written = 0; written < input.size();) {
        DWORD put = 0;
        const auto wanted = static_cast<DWORD>(std::min<std::size_t>(input.size() - written, 1u << 20));
        if (!::WriteFile(writing.get(), input.data() + written, wanted, &put, nullptr) || put == 0) {
            return;
        }
        written += put;
    }
}

// Sets an environment variable of the test, which the programs it starts
// inherit, back to what it was when the object goes.
class environment_override {
public:
    environment_override(const char* name, const std::string& value) : name_(name)
    {
        char earlier[32768];
        const DWORD length = ::GetEnvironmentVariableA(name, earlier, sizeof earlier);
        had_ = length > 0 && length < sizeof earlier;
        earlier_.assign(earlier, had_ ? length : 0);
        ::SetEnvironmentVariableA(name, value.c_str());
    }
    ~environment_override() { ::SetEnvironmentVariableA(name_, had_ ? earlier_.c_str() : nullptr); }
    environment_override(const environment_override&) = delete;
    environment_override& operator=(const environment_override&) = delete;

private:
    const char* name_;
    bool had_ = false;
    std::string earlier_;
};

// Arguments have no escape character on Windows: quoting each one keeps its
// spaces, and an empty one becomes a "" pair, which the program skips.
std::string quoted(const std::string& word) { return '"' + word + '"'; }

std::string command_line_of(const std::string& program, const std::vector<std::string>& arguments)
{
    std::string line = quoted(program);
    for (const auto& argument : arguments) {
        line += ' ' + quoted(argument);
    }
    return line;
}

} // namespace

// The build path of the inspector is a path of the build machine; seen from
// the Windows side it is the file of that name beside the test programs,
// which the build puts into one folder.
const std::string& inspector_path()
{
    static const std::string path = folder_of_this_program() + std::string(file_name_of(ORBSE_EXECUTABLE));
    return path;
}

std::string inspector_command_word() { return quoted(inspector_path()); }

program_result run_raw(const std::string& program, const raw_run& run)
{
    temp_folder captures;
    const std::string output_path = captures.file("stdout");
    const std::string error_path = captures.file("stderr");
    program_result result;
    {
        const owned_handle output(create_capture(output_path));
        const owned_handle error(create_capture(error_path));
        const input_pipe pipe = run.standard_input ? make_input_pipe() : input_pipe{};
        owned_handle input_reading(pipe.reading);
        owned_handle input_writing(pipe.writing);
        std::unique_ptr<environment_override> tmp;
        std::unique_ptr<environment_override> temp;
        if (!run.temporary_folder.empty()) {
            tmp = std::make_unique<environment_override>("TMP", run.temporary_folder);
            temp = std::make_unique<environment_override>("TEMP", run.temporary_folder);
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof(startup);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = pipe.reading;
        startup.hStdOutput = output.get();
        startup.hStdError = run.with_standard_error ? error.get() : nullptr;
        std::string command_line = run.command_line; // CreateProcessA may write into it
        PROCESS_INFORMATION started{};
        if (!::CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              run.working_folder.empty() ? nullptr : run.working_folder.c_str(), &startup,
                              &started)) {
            throw std::runtime_error("cannot start " + program + " (error " + std::to_string(::GetLastError()) +
                                     ")");
        }
        const owned_handle process(started.hProcess);
        const owned_handle thread(started.hThread);
        if (run.standard_input) {
            input_reading.close(); // the program holds its own
            feed(input_writing, *run.standard_input);
            input_writing.close();
        }
        ::WaitForSingleObject(process.get(), INFINITE);
        DWORD exit_code = 0;
        ::GetExitCodeProcess(process.get(), &exit_code);
        result.exit_code = static_cast<int>(exit_code);
    }
    result.standard_output = read_text_file(output_path);
    result.standard_error = read_text_file(error_path);
    return result;
}

program_result run_program(const std::string& program, const std::vector<std::string>& arguments,
                           const std::string& working_folder)
{
    raw_run run;
    run.command_line = command_line_of(program, arguments);
    run.working_folder = working_folder;
    return run_raw(program, run);
}

program_result run_with_input(const std::string& program, const std::vector<std::string>& arguments,
                              const std::string& input, const std::string& temporary_folder)
{
    raw_run run;
    run.command_line = command_line_of(program, arguments);
    run.standard_input = &input;
    run.temporary_folder = temporary_folder;
    return run_raw(program, run);
}

program_result run_inspector(const std::vector<std::string>& arguments, const std::string& working_folder)
{
    return run_program(inspector_path(), arguments, working_folder);
}

} // namespace orbse::testing
