#include "fields/stream_position.h"

#include "orbsaves/save_model.h"

namespace orbse::fields {
namespace {

// The unit class index holds the 93 rows of each player's units_block, the
// updates rows that carry values and the post-update records.
constexpr std::uint64_t rows_of_blocks = 4 * unit_type_count;

} // namespace

void stream_position::follow(leaf_type type, std::string_view path, std::int64_t number, slot_content slot)
{
    if (type == leaf_type::raw) {
        if (path.ends_with(".values") && path.find(".updates[") != std::string_view::npos) {
            ++index_length_;
        } else if (path.ends_with(".path.word_after_points")) {
            step(); // a path takes its number once it has been read
        }
        return;
    }
    if (slot == slot_content::unit) {
        // The slot's number is the next one; the unit takes it.
        numbering_ = true;
        counter_ = static_cast<std::uint16_t>(number);
        return;
    }
    if (type != leaf_type::u16 || slot == slot_content::reference) {
        return;
    }
    if (path.ends_with(".word_after_link")) {
        step(); // the linked unit read before this word took its number
    } else if (path.ends_with("post_updates.count")) {
        index_length_ += static_cast<std::uint64_t>(number);
    }
}

std::uint16_t stream_position::counter() const
{
    return numbering_ ? counter_ : static_cast<std::uint16_t>((rows_of_blocks + index_length_) & 0xFFFFu);
}

} // namespace orbse::fields
