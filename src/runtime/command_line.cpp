#include "runtime/command_line.h"

#include <algorithm>

namespace orbse {
namespace {

constexpr char quote = '"';

class line_walker {
public:
    line_walker(std::string_view line, character_length step)
        : line_(line.substr(0, std::min(line.find('\0'), line.size()))), step_(step)
    {
    }

    bool at_end() const { return at_ >= line_.size(); }
    unsigned char current() const { return static_cast<unsigned char>(line_[at_]); }
    bool at_separator() const { return !at_end() && current() >= 1 && current() <= 32; }
    bool at_quote() const { return !at_end() && current() == quote; }
    bool at_quote_pair() const { return at_quote() && at_ + 1 < line_.size() && line_[at_ + 1] == quote; }

    void skip_separators_and_quote_pairs()
    {
        for (;;) {
            while (at_separator()) {
                ++at_;
            }
            if (!at_quote_pair()) {
                return;
            }
            at_ += 2;
        }
    }

    // Moves past the current character, whole, and hands its bytes over.
    std::string_view take_character()
    {
        const std::size_t length = std::min(step_(line_, at_), line_.size() - at_);
        const std::string_view character = line_.substr(at_, std::max<std::size_t>(length, 1));
        at_ += character.size();
        return character;
    }

    std::string collect_word()
    {
        std::string word;
        bool quoted = false;
        while (!at_end()) {
            if (at_quote()) {
                quoted = !quoted;
                ++at_;
            } else if (!quoted && at_separator()) {
                break;
            } else {
                word.append(take_character());
            }
        }
        return word;
    }

private:
    std::string_view line_;
    character_length step_;
    std::size_t at_ = 0;
};

} // namespace

std::size_t single_byte_character(std::string_view /*line*/, std::size_t /*at*/) { return 1; }

std::vector<std::string> split_command_line(std::string_view raw_line, character_length step)
{
    line_walker walker(raw_line, step);
    std::vector<std::string> words;
    for (;;) {
        walker.skip_separators_and_quote_pairs();
        std::string word = walker.collect_word();
        if (word.empty()) {
            return words;
        }
        words.push_back(std::move(word));
    }
}

} // namespace orbse
