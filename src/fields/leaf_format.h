// How the field program writes a leaf and a break, as a line of text or a
// JSON Lines record, and the pieces the dump and diff write values with.
#pragma once

#include "fields/output_stream.h"
#include "orbsaves/save_walk.h"

#include <functional>
#include <span>
#include <string_view>

namespace orbse::fields {

// The bytes of a raw leaf beyond those it holds, a piece at a time, empty
// after the last: the tail's further pieces (save_walk::next_tail_piece).
using further_bytes = std::function<std::span<const std::uint8_t>()>;

// A line shows the first 64 bytes of a longer raw stretch and says so; a
// record carries every byte.
void write_leaf_line(output_stream& out, const field_leaf& leaf, std::string_view path);
void write_leaf_json(output_stream& out, const field_leaf& leaf, std::string_view path, const further_bytes& further);
// The value alone, as the line or the record shows it. A raw stretch in JSON
// is the bytes the leaf holds: all of them but for the tail's further pieces.
void write_leaf_value(output_stream& out, const field_leaf& leaf, bool json);
// Every byte of a raw stretch in hex: the leaf's own, then the further
// pieces as they come, so that a tail of any length is never held whole.
void write_raw_hex(output_stream& out, const field_leaf& leaf, const further_bytes& further);

// "Read beyond end of file at 0x0000a000 (40960) reading units.lists[0]...:
// needed 144 bytes, 10 left", without a line end.
void write_break_text(output_stream& out, const walk_break& broken);
// The same break as one JSON object, without a line end.
void write_break_object(output_stream& out, const walk_break& broken);
// Its members alone, "error" to "left", for a record that holds more.
void write_break_members(output_stream& out, const walk_break& broken);

// A text of the program's own (a path, a note) as a JSON string.
void write_json_quoted(output_stream& out, std::string_view text);
// A name's bytes as the listing shows them, without the NUL padding: in
// text every byte outside printable ASCII as \xNN, in JSON as \u00NN, which
// keeps the text valid UTF-8 and each byte recoverable from its code point.
void write_name_value(output_stream& out, std::span<const std::uint8_t> bytes, bool json);

} // namespace orbse::fields
