#include "fields/leaf_format.h"

#include "fields/composed_text.h"
#include "fields/decimal_digits.h"

#include <algorithm>
#include <charconv>
#include <initializer_list>
#include <string>

namespace orbse::fields {
namespace {

// A name's bytes up to its NUL padding. Printable ASCII stands as it is,
// every other byte as `escape` and two hex digits: \xNN in text, \u00NN in
// JSON, which keeps the text valid UTF-8 and each byte recoverable from its
// code point.
void write_escaped_text(output_stream& out, std::span<const std::uint8_t> bytes, std::string_view escape)
{
    std::size_t length = bytes.size();
    while (length > 0 && bytes[length - 1] == 0) {
        --length;
    }
    out.put('"');
    for (std::size_t at = 0; at < length; ++at) {
        const std::uint8_t byte = bytes[at];
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\') {
            out.put(static_cast<char>(byte));
        } else {
            out.write(escape);
            out.write_hex(&byte, 1);
        }
    }
    out.put('"');
}

void write_text_value(output_stream& out, std::span<const std::uint8_t> bytes)
{
    write_escaped_text(out, bytes, "\\x");
}

void write_json_text_value(output_stream& out, std::span<const std::uint8_t> bytes)
{
    write_escaped_text(out, bytes, "\\u00");
}

// Paths and notes are plain ASCII of our own making, except a unit type's
// name, which is too; quoted as they are.
void write_json_string(output_stream& out, std::string_view text)
{
    const bool plain = std::none_of(text.begin(), text.end(), [](char c) { return c == '"' || c == '\\'; });
    if (plain) {
        out.put('"');
        out.write(text);
        out.put('"');
        return;
    }
    out.put('"');
    for (const char character : text) {
        if (character == '"' || character == '\\') {
            out.put('\\');
        }
        out.put(character);
    }
    out.put('"');
}

template <typename element>
void write_array(output_stream& out, std::span<const element> values)
{
    out.put('[');
    for (std::size_t at = 0; at < values.size(); ++at) {
        if (at > 0) {
            out.put(',');
        }
        out.write_number(values[at]);
    }
    out.put(']');
}

void write_type(output_stream& out, const field_leaf& leaf)
{
    switch (leaf.type) {
    case leaf_type::u8:
        out.write("u8");
        return;
    case leaf_type::u16:
        out.write("u16");
        return;
    case leaf_type::u32:
        out.write("u32");
        return;
    case leaf_type::i32:
        out.write("i32");
        return;
    case leaf_type::raw:
        out.write("raw");
        return;
    case leaf_type::text:
        out.write("text[");
        out.write_number(leaf.size);
        break;
    case leaf_type::u8_array:
        out.write("u8[");
        out.write_number(leaf.size);
        break;
    case leaf_type::u16_array:
        out.write("u16[");
        out.write_number(leaf.size / 2);
        break;
    }
    out.put(']');
}

void write_raw_value(output_stream& out, const field_leaf& leaf)
{
    out.write_hex(leaf.bytes.data(), leaf.bytes.size());
}

} // namespace

void write_leaf_value(output_stream& out, const field_leaf& leaf, bool json)
{
    switch (leaf.type) {
    case leaf_type::u8:
    case leaf_type::u16:
    case leaf_type::u32:
    case leaf_type::i32:
        out.write_signed(leaf.number);
        return;
    case leaf_type::text:
        write_name_value(out, leaf.bytes, json);
        return;
    case leaf_type::raw:
        if (json) {
            out.put('"');
            write_raw_value(out, leaf);
            out.put('"');
        } else {
            write_raw_value(out, leaf);
            if (leaf.size > leaf.bytes.size()) {
                out.write("... (");
                out.write_number(leaf.size);
                out.write(" bytes)");
            }
        }
        return;
    case leaf_type::u8_array:
        write_byte_list(out, leaf.bytes);
        return;
    case leaf_type::u16_array:
        out.put('[');
        out.write_u16_list(leaf.words.data(), leaf.words.size());
        out.put(']');
        return;
    }
}

namespace {

// As output_stream::write_offset: "0x" and at least eight hex digits.
char* put_offset(char* at, std::uint64_t value)
{
    char digits[16];
    const auto length = static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value, 16).ptr - digits);
    at = put_literal(at, "0x");
    for (std::size_t pad = length; pad < 8; ++pad) {
        *at++ = '0';
    }
    return put_text(at, {digits, length});
}

// The fixed text of a run's lines up to a number, put together once per
// run and copied whole into each line.
class line_piece {
public:
    explicit line_piece(std::initializer_list<std::string_view> parts)
    {
        for (const auto part : parts) {
            text_.append(part);
        }
        size_ = text_.size();
        text_.resize(std::max(size_, copied_whole), '\0');
    }

    // Writes `copied_whole` bytes, past the end when the piece is shorter.
    char* put(char* at) const
    {
        if (size_ <= copied_whole) [[likely]] {
            std::memcpy(at, text_.data(), copied_whole);
        } else {
            std::memcpy(at, text_.data(), size_);
        }
        return at + size_;
    }

    std::size_t room() const { return std::max(size_, copied_whole); }

    // Pieces are copied as this many bytes whatever their length, one fixed
    // copy; "units.lists[N].slots[" and what goes with it fit.
    static constexpr std::size_t copied_whole = 64;

private:
    std::string text_;
    std::size_t size_ = 0;
};

// What a reference's line needs beyond its line piece: the fixed pieces,
// two counters that write up to 20 bytes each and two values that write 8.
constexpr std::size_t reference_line_room = 256;

} // namespace

void write_references_lines(output_stream& out, const reference_run& run)
{
    const line_piece path_head({" 2 u16 ", run.list_path, ".slots["});
    decimal_counter slot(run.first_slot);
    const std::size_t room = path_head.room() + reference_line_room;
    for (std::size_t at_slot = 0; at_slot < run.objects.size(); ++at_slot) {
        char* at = out.reserve(room);
        at = put_offset(at, run.offset + 2 * at_slot);
        at = path_head.put(at);
        at = slot.put(at);
        at = put_literal(at, "].object_id ");
        at = put_reference(at, run.objects[at_slot], " (reference to object ", ")\n");
        out.commit(at);
        slot.add(1);
    }
}

void write_references_json(output_stream& out, const reference_run& run)
{
    const line_piece path_head({"{\"path\":\"", run.list_path, ".slots["});
    decimal_counter slot(run.first_slot);
    decimal_counter offset(run.offset);
    const std::size_t room = path_head.room() + reference_line_room;
    for (const std::uint16_t object_number : run.objects) {
        char* at = out.reserve(room);
        at = path_head.put(at);
        at = slot.put(at);
        at = put_literal(at, "].object_id\",\"offset\":");
        at = offset.put(at);
        at = put_literal(at, ",\"size\":2,\"type\":\"u16\",\"value\":");
        at = put_reference(at, object_number, ",\"note\":\"reference to object ", "\"}\n");
        out.commit(at);
        slot.add(1);
        offset.add(2);
    }
}

void write_leaf_line(output_stream& out, const field_leaf& leaf)
{
    out.write_offset(leaf.offset);
    out.put(' ');
    out.write_number(leaf.size);
    out.put(' ');
    write_type(out, leaf);
    out.put(' ');
    out.write(leaf.path);
    out.put(' ');
    write_leaf_value(out, leaf, false);
    if (!leaf.note.empty()) {
        out.write(" (");
        out.write(leaf.note);
        out.put(')');
    }
    out.put('\n');
}

void write_leaf_json(output_stream& out, const field_leaf& leaf)
{
    // Paths are made of the format's field names and positions: no quote
    // or backslash can be in them.
    out.write("{\"path\":\"");
    out.write(leaf.path);
    out.put('"');
    out.write(",\"offset\":");
    out.write_number(leaf.offset);
    out.write(",\"size\":");
    out.write_number(leaf.size);
    out.write(",\"type\":\"");
    write_type(out, leaf);
    out.write("\",\"value\":");
    write_leaf_value(out, leaf, true);
    if (!leaf.note.empty()) {
        out.write(",\"note\":");
        write_json_string(out, leaf.note);
    }
    out.write("}\n");
}

void write_break_text(output_stream& out, const walk_break& broken)
{
    out.write(broken.message);
    out.write(" at ");
    out.write_offset(broken.offset);
    out.write(" (");
    out.write_number(broken.offset);
    out.write(") reading ");
    out.write(broken.path);
    out.write(": needed ");
    out.write_number(broken.needed);
    out.write(" bytes, ");
    out.write_number(broken.left);
    out.write(" left");
}

void write_break_json(output_stream& out, const walk_break& broken)
{
    write_break_object(out, broken);
    out.put('\n');
}

void write_break_object(output_stream& out, const walk_break& broken)
{
    out.put('{');
    write_break_members(out, broken);
    out.put('}');
}

void write_break_members(output_stream& out, const walk_break& broken)
{
    out.write("\"error\":");
    write_json_string(out, broken.message);
    out.write(",\"code\":");
    out.write_signed(broken.code);
    out.write(",\"path\":");
    write_json_string(out, broken.path);
    out.write(",\"offset\":");
    out.write_number(broken.offset);
    out.write(",\"needed\":");
    out.write_number(broken.needed);
    out.write(",\"left\":");
    out.write_number(broken.left);
}

void write_json_name(output_stream& out, std::span<const std::uint8_t> bytes) { write_json_text_value(out, bytes); }

void write_json_quoted(output_stream& out, std::string_view text) { write_json_string(out, text); }

void write_name_value(output_stream& out, std::span<const std::uint8_t> bytes, bool json)
{
    json ? write_json_text_value(out, bytes) : write_text_value(out, bytes);
}

void write_byte_list(output_stream& out, std::span<const std::uint8_t> bytes) { write_array(out, bytes); }

} // namespace orbse::fields
