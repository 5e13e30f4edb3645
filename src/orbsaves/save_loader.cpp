#include "orbsaves/save_loader.h"

#include "orbsaves/save_format.h"
#include "orbsaves/save_reader.h"
#include "orbsaves/unit_class_index.h"
#include "orbsaves/unit_stream.h"

#include <algorithm>
#include <stdexcept>

namespace orbse {
namespace {

// Reads the fixed part and the groups as the format's description names
// them. A field outside a piece is a read of its own; the fields of a piece
// (the header, a player record, a units_block) are taken from the bytes the
// piece read in one go. Every read is checked at the description's line.
class fixed_part_loader : public format::structure_passed_through {
public:
    explicit fixed_part_loader(save_reader& reader) : reader_(reader) {}

    void u8(const char*, std::uint8_t& value, format::note = {}, const check_site& site = check_site::current())
    {
        if (piece_ != nullptr) {
            value = piece_->take_u8();
            return;
        }
        std::array<std::uint8_t, 1> byte;
        reader_.read_bytes(byte, site);
        value = byte[0];
    }

    void u16(const char*, std::uint16_t& value, format::note = {}, const check_site& site = check_site::current())
    {
        value = piece_ != nullptr ? piece_->take_u16() : reader_.read_u16(site);
    }

    // Four-byte fields lie only inside pieces.
    void u32(const char*, std::uint32_t& value, format::note = {}) { value = in_piece().take_u32(); }
    void i32(const char*, std::int32_t& value, format::note = {}) { value = in_piece().take_i32(); }

    void text(const char* name, name_field& field) { raw(name, std::span(field)); }

    void raw(const char*, std::span<std::uint8_t> bytes, const check_site& site = check_site::current())
    {
        if (piece_ != nullptr) {
            piece_->take_into(bytes);
        } else {
            reader_.read_bytes(bytes, site);
        }
    }

    void skip(const char*, std::size_t count) { in_piece().skip(count); }

    template <typename fields_of>
    void piece(std::size_t size, const char*, fields_of&& fields, const check_site& site = check_site::current())
    {
        std::array<std::uint8_t, format::units_block_size> bytes;
        const auto image = std::span(bytes).first(size);
        reader_.read_bytes(image, site);
        record_cursor cursor(image);
        piece_ = &cursor;
        fields();
        piece_ = nullptr;
        if (cursor.remaining() != 0) {
            throw std::logic_error("a piece of the save described with bytes left over");
        }
    }

    // A map layer is one read straight into its cells.
    void layer(const char*, std::span<std::uint8_t> cells, std::size_t, const check_site& site = check_site::current())
    {
        reader_.read_bytes(cells, site);
    }

    void post_update_records(units_post_updates_block_record& post_updates,
                             const check_site& site = check_site::current())
    {
        post_updates.records.assign(post_updates.count, post_update_record{});
        for (auto& record : post_updates.records) {
            reader_.read_bytes(record, site);
        }
    }

private:
    record_cursor& in_piece()
    {
        if (piece_ == nullptr) {
            throw std::logic_error("a field of the save described outside its piece");
        }
        return *piece_;
    }

    save_reader& reader_;
    record_cursor* piece_ = nullptr;
};

// Whatever follows the unit stream is kept as it is, in one read.
void read_tail(save_reader& reader, saveorec& save)
{
    const std::uint64_t tail_size = reader.bytes_left();
    save.tail_size = static_cast<std::int64_t>(tail_size);
    if (tail_size == 0) {
        return; // no bytes, so no memory asked for
    }
    save.tail_data = large_buffer<std::uint8_t>(tail_size);
    reader.read_bytes({save.tail_data.data(), save.tail_data.size()});
}

} // namespace

void load_save(saveorec& save, const std::string& path)
{
    data_file file;
    open_data_file(file, path);
    io_check();
    save_reader reader(file);
    fixed_part_loader loader(reader);
    for (std::size_t step = 0; step < format::front_step_count; ++step) {
        format::map_front_step(loader, save, step);
    }
    build_class_index(save);
    // The groups' objects take the numbers 1 up to the index length, so the
    // stream's objects go on from there, kept to 16 bits like every number.
    save.unit_store = unidefa{};
    save.unit_store.object_counter = static_cast<std::uint16_t>(save.unit_class_index.size() & 0xFFFFu);
    read_units(reader, save.unit_store);
    read_tail(reader, save);
    close_data_file(file);
    io_check();
}

} // namespace orbse
