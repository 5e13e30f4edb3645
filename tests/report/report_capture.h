// Runs a report writer against a real report channel bound to a temporary
// file, and hands back the bytes the file received.
#pragma once

#include "runtime/failures.h"
#include "runtime/text_channel.h"
#include "support/test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace orbse::testing {

template <typename writer>
std::string captured_report(writer&& write)
{
    temp_folder folder;
    const std::string path = folder.file("report.inf");
    text_channel report_output;
    report_output.bind(path);
    std::forward<writer>(write)(report_output);
    report_output.close();
    EXPECT_EQ(std::exchange(pending_io_error, 0), 0);
    return read_text_file(path);
}

// The lines of a report whose every line ends in CR LF. A lone CR or LF, or
// text after the last line break, fails the test.
inline std::vector<std::string> crlf_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "text after the last CR LF: " << text.substr(start);
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    for (const auto& line : lines) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << "lone line break in: " << line;
    }
    return lines;
}

} // namespace orbse::testing
