#include "fields/leaf_format.h"

#include <algorithm>
#include <array>

namespace orbse::fields {
namespace {

void write_type(output_stream& out, const field_leaf& leaf)
{
    constexpr std::array<std::string_view, 8> names{"u8", "u16", "u32", "i32", "text[", "raw", "u8[", "u16["};
    out.write(names[static_cast<std::size_t>(leaf.type)]);
    if (leaf.type == leaf_type::text || leaf.type == leaf_type::u8_array || leaf.type == leaf_type::u16_array) {
        out.write_number(leaf.type == leaf_type::u16_array ? leaf.size / 2 : leaf.size);
        out.put(']');
    }
}

// The first 64 bytes, and for a longer stretch how many there are in all,
// so that a line never looks like the whole of what it cuts.
void write_raw_head(output_stream& out, const field_leaf& leaf)
{
    out.write_hex(leaf.bytes.data(), std::min(leaf.bytes.size(), raw_head_size));
    if (leaf.size > raw_head_size) {
        out.write("... (first ");
        out.write_number(raw_head_size);
        out.write(" of ");
        out.write_number(leaf.size);
        out.write(" bytes)");
    }
}

} // namespace

void write_raw_hex(output_stream& out, const field_leaf& leaf, const further_bytes& further)
{
    out.write_hex(leaf.bytes.data(), leaf.bytes.size());
    // A piece that does not come is a break in the tail, which the walk's
    // summary reports: the hex ends with the bytes that were read.
    for (std::uint64_t written = leaf.bytes.size(); written < leaf.size;) {
        const auto piece = further();
        if (piece.empty()) {
            return;
        }
        out.write_hex(piece.data(), piece.size());
        written += piece.size();
    }
}

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
            out.write_hex(leaf.bytes.data(), leaf.bytes.size());
            out.put('"');
            return;
        }
        write_raw_head(out, leaf);
        return;
    case leaf_type::u8_array:
        out.put('[');
        for (std::size_t at = 0; at < leaf.bytes.size(); ++at) {
            if (at > 0) {
                out.put(',');
            }
            out.write_number(leaf.bytes[at]);
        }
        out.put(']');
        return;
    case leaf_type::u16_array:
        out.put('[');
        out.write_u16_list(leaf.words.data(), leaf.words.size());
        out.put(']');
        return;
    }
}

void write_leaf_line(output_stream& out, const field_leaf& leaf, std::string_view path)
{
    out.write_offset(leaf.offset);
    out.put(' ');
    out.write_number(leaf.size);
    out.put(' ');
    write_type(out, leaf);
    out.put(' ');
    out.write(path);
    out.put(' ');
    write_leaf_value(out, leaf, false);
    if (!leaf.note.empty()) {
        out.write(" (");
        out.write(leaf.note);
        out.put(')');
    }
    out.put('\n');
}

void write_leaf_json(output_stream& out, const field_leaf& leaf, std::string_view path, const further_bytes& further)
{
    // Paths are made of the format's field names and positions: no quote
    // or backslash can be in them.
    out.write("{\"path\":\"");
    out.write(path);
    out.write("\",\"offset\":");
    out.write_number(leaf.offset);
    out.write(",\"size\":");
    out.write_number(leaf.size);
    out.write(",\"type\":\"");
    write_type(out, leaf);
    out.write("\",\"value\":");
    if (leaf.type == leaf_type::raw) {
        out.put('"');
        write_raw_hex(out, leaf, further);
        out.put('"');
    } else {
        write_leaf_value(out, leaf, true);
    }
    if (!leaf.note.empty()) {
        out.write(",\"note\":");
        write_json_quoted(out, leaf.note);
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
    out.write(broken.path());
    out.write(": needed ");
    out.write_number(broken.needed);
    out.write(" bytes, ");
    out.write_number(broken.left);
    out.write(" left");
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
    write_json_quoted(out, broken.message);
    out.write(",\"code\":");
    out.write_signed(broken.code);
    out.write(",\"path\":");
    write_json_quoted(out, broken.path());
    out.write(",\"offset\":");
    out.write_number(broken.offset);
    out.write(",\"needed\":");
    out.write_number(broken.needed);
    out.write(",\"left\":");
    out.write_number(broken.left);
}

// Paths and notes are plain ASCII of our own making and names from the
// game's tables; only a quote or a backslash needs an escape.
void write_json_quoted(output_stream& out, std::string_view text)
{
    out.put('"');
    for (std::size_t escaped; (escaped = std::min(text.find('"'), text.find('\\'))) != std::string_view::npos;) {
        out.write(text.substr(0, escaped));
        out.put('\\');
        out.put(text[escaped]);
        text.remove_prefix(escaped + 1);
    }
    out.write(text);
    out.put('"');
}

void write_name_value(output_stream& out, std::span<const std::uint8_t> bytes, bool json)
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
            out.write(json ? "\\u00" : "\\x");
            out.write_hex(&byte, 1);
        }
    }
    out.put('"');
}

} // namespace orbse::fields
