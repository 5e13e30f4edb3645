#include "fields/leaf_format.h"

#include <algorithm>

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

void write_value(output_stream& out, const field_leaf& leaf, bool json)
{
    switch (leaf.type) {
    case leaf_type::u8:
    case leaf_type::u16:
    case leaf_type::u32:
    case leaf_type::i32:
        out.write_signed(leaf.number);
        return;
    case leaf_type::text:
        json ? write_json_text_value(out, leaf.bytes) : write_text_value(out, leaf.bytes);
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
        write_array(out, leaf.bytes);
        return;
    case leaf_type::u16_array:
        out.put('[');
        out.write_u16_list(leaf.words.data(), leaf.words.size());
        out.put(']');
        return;
    }
}

} // namespace

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
    write_value(out, leaf, false);
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
    write_value(out, leaf, true);
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
    out.write("{\"error\":");
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
    out.put('}');
}

void write_json_name(output_stream& out, std::span<const std::uint8_t> bytes) { write_json_text_value(out, bytes); }

void write_json_quoted(output_stream& out, std::string_view text) { write_json_string(out, text); }

} // namespace orbse::fields
