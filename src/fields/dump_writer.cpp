#include "fields/dump_writer.h"

#include "fields/leaf_format.h"

#include <stdexcept>
#include <utility>

namespace orbse::fields {
namespace {

// The one field named like an extent member: a unit list's number of slots.
std::string_view member_name_of(const field_leaf& leaf)
{
    return leaf.sizes_list ? std::string_view("list_size") : leaf.name;
}

void write_number_leaf(output_stream& out, const field_leaf& leaf)
{
    if (leaf.note.empty()) {
        out.write_signed(leaf.number);
        return;
    }
    out.write("{\"value\":");
    out.write_signed(leaf.number);
    out.write(",\"note\":");
    write_json_quoted(out, leaf.note);
    out.put('}');
}

void write_raw_leaf(output_stream& out, const field_leaf& leaf, const further_bytes& further)
{
    out.write("{\"size\":");
    out.write_number(leaf.size);
    out.write(",\"hex\":\"");
    write_raw_hex(out, leaf, further);
    out.write("\"}");
}

void write_text_leaf(output_stream& out, const field_leaf& leaf)
{
    out.write("{\"text\":");
    write_name_value(out, leaf.bytes, true);
    out.write(",\"hex\":\"");
    out.write_hex(leaf.bytes.data(), leaf.bytes.size());
    out.write("\"}");
}

} // namespace

dump_writer::dump_writer(output_stream& out, further_bytes further) : out_(out), further_(std::move(further))
{
    parts_.reserve(16);
}

// The document is the record of the whole file. It is begun with the walk's
// first part, so that a save that cannot be opened leaves no output at all.
void dump_writer::start()
{
    parts_.push_back({});
    open_object(parts_.back());
}

void dump_writer::open_object(open_part& part)
{
    if (part.written == shape::object) {
        return;
    }
    if (part.written == shape::value) {
        throw std::logic_error("a part of the save holds more than its one value");
    }
    part.written = shape::object;
    out_.write("{\"offset\":");
    out_.write_number(part.offset);
    if (part.shows_level) {
        out_.write(",\"level\":");
        out_.write_signed(part.index);
    }
}

void dump_writer::close_run(open_part& part)
{
    if (!part.run.empty()) {
        out_.put(']');
        part.run = {};
    }
}

void dump_writer::member(std::string_view name)
{
    out_.write(",\"");
    out_.write(name);
    out_.write("\":");
}

// Numbered parts of one name that follow one another are one array. A part
// whose index falls below the last one is the walk coming back through the
// levels of a chain: those go into an array of their own, the name with
// "_ends". Returns whether the part states its index as "level": in runs
// that do not count from 0 the position in the array is not the index.
bool dump_writer::join_run(open_part& parent, std::string_view name, std::int64_t index)
{
    if (parent.run == name && index == parent.run_last + parent.run_step) {
        out_.put(',');
        parent.run_last = index;
        return parent.run_shows_level;
    }
    const bool returning = parent.run == name && index < parent.run_last;
    close_run(parent);
    std::string member_name(name);
    if (returning) {
        member_name += "_ends";
    }
    member(member_name);
    out_.put('[');
    parent.run = name;
    parent.run_last = index;
    parent.run_step = returning ? -1 : 1;
    parent.run_shows_level = returning || index != 0;
    return parent.run_shows_level;
}

void dump_writer::move_to(std::span<const path_part> place)
{
    if (parts_.empty()) {
        start();
    }
    // parts_[0] is the document, parts_[1 + i] the place's part i.
    std::size_t shared = 0;
    while (shared < place.size() && shared + 1 < parts_.size() && parts_[shared + 1].part == place[shared]) {
        ++shared;
    }
    while (parts_.size() > shared + 1) {
        part_ended();
    }
    for (std::size_t at = shared; at < place.size(); ++at) {
        part_begun(place[at]);
    }
}

void dump_writer::part_begun(const path_part& begun)
{
    const std::string_view name = begun.name;
    const std::int64_t index = begun.index;
    open_part& parent = parts_.back();
    open_object(parent);
    bool shows_level = false;
    if (index < 0) {
        close_run(parent);
        member(name);
    } else {
        shows_level = join_run(parent, name, index);
    }
    open_part part;
    part.part = begun;
    part.offset = covered_;
    part.index = index;
    part.shows_level = shows_level;
    parts_.push_back(part);
}

void dump_writer::close_part(open_part& part)
{
    if (part.written == shape::value) {
        return;
    }
    open_object(part);
    close_run(part);
    out_.write(",\"size\":");
    out_.write_number(covered_ - part.offset);
    out_.put('}');
}

void dump_writer::part_ended()
{
    close_part(parts_.back());
    parts_.pop_back();
}

void dump_writer::take(const field_leaf& leaf)
{
    move_to(leaf.place.view());
    open_part& part = parts_.back();
    if (leaf.name.empty()) {
        if (part.written != shape::unopened) {
            throw std::logic_error("an unnamed field of the save beside others");
        }
        part.written = shape::value;
    } else {
        open_object(part);
        close_run(part);
        member(member_name_of(leaf));
    }
    write_value(leaf);
    covered_ = leaf.offset + leaf.size;
}

void dump_writer::write_value(const field_leaf& leaf)
{
    switch (leaf.type) {
    case leaf_type::u8:
    case leaf_type::u16:
    case leaf_type::u32:
    case leaf_type::i32:
        write_number_leaf(out_, leaf);
        return;
    case leaf_type::text:
        write_text_leaf(out_, leaf);
        return;
    case leaf_type::raw:
        write_raw_leaf(out_, leaf, further_);
        return;
    case leaf_type::u8_array:
    case leaf_type::u16_array:
        write_leaf_value(out_, leaf, true);
        return;
    }
}

void dump_writer::finish(const walk_break* broken)
{
    if (parts_.empty()) {
        start();
    }
    if (broken != nullptr) {
        move_to(broken->place.view());
    }
    while (parts_.size() > 1) {
        part_ended();
    }
    open_part& document = parts_.back();
    close_run(document);
    if (broken != nullptr) {
        member("error");
        write_break_object(out_, *broken);
    }
    close_part(document);
    parts_.pop_back();
    out_.put('\n');
}

} // namespace orbse::fields
