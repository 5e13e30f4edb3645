#include "runtime/failure_report.h"

#include "runtime/platform.h"

#include <algorithm>
#include <cstdio>

namespace orbse {
namespace {

std::string_view base_name(std::string_view path)
{
    const auto separator = path.find_last_of(platform::path_separators);
    return separator == std::string_view::npos ? path : path.substr(separator + 1);
}

// A message gets a closing period unless it already has one.
std::string_view closing_period(std::string_view message)
{
    return !message.empty() && message.back() != '.' ? "." : "";
}

} // namespace

std::size_t compose_failure_text(const failure& raised, std::string_view module_name, failure_text& text)
{
    const std::string_view kind = raised.kind_name();
    const std::string_view message = raised.message();
    const std::string_view period = closing_period(message);
    const int length = std::snprintf(text.data(), text.size(), "Exception %.*s in module %.*s at %08X.\r\n%.*s%.*s\r\n",
                                     static_cast<int>(kind.size()), kind.data(),
                                     static_cast<int>(module_name.size()), module_name.data(),
                                     static_cast<unsigned>(raised.address()),
                                     static_cast<int>(message.size()), message.data(),
                                     static_cast<int>(period.size()), period.data());
    return length < 0 ? 0 : std::min(static_cast<std::size_t>(length), text.size() - 1);
}

void report_failure(const failure& raised, text_channel& report_output)
{
    std::array<char, 4096> module_path{};
    const std::size_t path_length = platform::module_file_name(module_path.data(), module_path.size());
    failure_text text{};
    const std::size_t length =
        compose_failure_text(raised, base_name({module_path.data(), path_length}), text);

    // The report's buffered text reaches its file before the message. Should
    // that fail as well, the first failure is the one worth telling.
    report_output.flush();
    pending_io_error = 0;

    platform::convert_to_console_text(text.data(), length);
    platform::write_standard_error({text.data(), length});
    platform::write_standard_error("\r\n");
}

} // namespace orbse
