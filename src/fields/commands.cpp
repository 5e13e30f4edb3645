#include "fields/commands.h"

#include "fields/dump_writer.h"
#include "fields/leaf_format.h"
#include "fields/save_input.h"
#include "orbsaves/save_walk.h"
#include "runtime/failures.h"
#include "runtime/platform.h"

#include <algorithm>
#include <memory>
#include <new>
#include <numeric>

namespace orbse::fields {

std::unique_ptr<save_walk> open_walk(const save_input& save, bool with_leaves)
{
    try {
        return std::make_unique<save_walk>(save.path(), with_leaves);
    } catch (const failure& failed) {
        report_problem(save.name(), failed.message());
    } catch (const std::bad_alloc&) {
        report_problem(save.name(), "Out of memory");
    }
    return nullptr;
}

namespace {

// The exit code once the output is written: 2 when it could not be, 1 for
// a damaged save.
int finish(const std::string& save, const walk_summary& summary, output_stream& out)
{
    if (!out.flush()) {
        report_problem(save, "standard output could not be written");
        return exit_trouble;
    }
    if (summary.broken) {
        report_problem(save, "damaged save: " + summary.broken->message);
        return exit_damaged;
    }
    return exit_done;
}

// A leaf kept beyond the walk's next record: its path rendered, its
// values copied.
struct kept_leaf {
    field_leaf leaf;
    std::string path;
    std::string note;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> words;

    // The bytes a line shows: all of a name or a cell, a raw stretch's
    // first 64 (`at` writes lines only, never a record).
    explicit kept_leaf(const field_leaf& from)
        : leaf(from), path(path_of(from)), note(from.note),
          bytes(from.bytes.begin(), from.bytes.begin() + static_cast<std::ptrdiff_t>(std::min(from.bytes.size(), raw_head_size))),
          words(from.words.begin(), from.words.end())
    {
        leaf.note = note;
        leaf.bytes = bytes;
        leaf.words = words;
    }
    kept_leaf(const kept_leaf&) = delete;
    kept_leaf& operator=(const kept_leaf&) = delete;
};

// A record around a leaf asked for: where it begins, and where it ends once
// the walk has left it.
struct record_span {
    std::string path;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// One asked offset: the leaf holding it, its neighbours, and the records
// around it with where each begins and ends.
struct offset_query {
    std::uint64_t offset = 0;
    std::unique_ptr<kept_leaf> before;
    std::unique_ptr<kept_leaf> holder;
    std::unique_ptr<kept_leaf> after;
    std::vector<record_span> records; // innermost first
};

// The parts of a place that are records around the leaf: all of them for
// a named leaf, all but its own for the value of a numbered part.
std::size_t record_depth(const field_leaf& leaf)
{
    return leaf.name.empty() && leaf.place.depth > 0 ? leaf.place.depth - 1 : leaf.place.depth;
}

// Finds the leaves holding the asked offsets in one walk. The offsets are
// taken in increasing order; the records the walk is in are kept as a
// stack, each with the queries waiting for its end, so that a query costs
// its records and not a look at every later leaf.
class offset_finder {
public:
    explicit offset_finder(const std::vector<std::uint64_t>& offsets) : queries_(offsets.size()), order_(offsets.size())
    {
        for (std::size_t at = 0; at < offsets.size(); ++at) {
            queries_[at].offset = offsets[at];
        }
        std::iota(order_.begin(), order_.end(), std::size_t{0});
        std::stable_sort(order_.begin(), order_.end(),
                         [&](std::size_t a, std::size_t b) { return offsets[a] < offsets[b]; });
    }

    // The leaves of one record of the walk. False once every query is
    // settled: the leaves need be looked at no further.
    bool take_record(std::span<const field_leaf> record)
    {
        const field_leaf* previous = previous_ ? &previous_->leaf : nullptr;
        for (const field_leaf& leaf : record) {
            for (offset_query* query : without_after_) {
                query->after = std::make_unique<kept_leaf>(leaf);
            }
            without_after_.clear();
            enter_records_of(leaf);
            const std::uint64_t end = leaf.offset + leaf.size;
            while (next_ < order_.size() && queries_[order_[next_]].offset < end) {
                offset_query& query = queries_[order_[next_++]];
                if (query.offset >= leaf.offset) {
                    hold(query, leaf, previous);
                }
            }
            previous = &leaf;
        }
        // The last leaf is kept for a holder in the next record.
        if (wanted() && !record.empty()) {
            previous_ = std::make_unique<kept_leaf>(record.back());
        }
        return wanted();
    }

    // The walk has ended: the records still open end where it did.
    void finish() { close_records_from(0); }

    std::vector<offset_query>& queries() { return queries_; }

private:
    struct open_record {
        path_part part;
        std::uint64_t begin = 0;
        std::uint64_t end = 0;
        std::vector<std::pair<offset_query*, std::size_t>> waiting; // a query and its record's place in it
    };

    bool wanted() const
    {
        return next_ < order_.size() || !without_after_.empty() ||
               std::any_of(open_.begin(), open_.end(), [](const open_record& r) { return !r.waiting.empty(); });
    }

    // Ends the records the leaf is not in, begins those it enters, and
    // stretches every record it lies in to its end.
    void enter_records_of(const field_leaf& leaf)
    {
        const auto place = leaf.place.view();
        const std::size_t depth = record_depth(leaf);
        std::size_t same = 0;
        while (same < depth && same < open_.size() && open_[same].part == place[same]) {
            ++same;
        }
        close_records_from(same);
        for (std::size_t level = same; level < depth; ++level) {
            open_.push_back({place[level], leaf.offset, leaf.offset, {}});
        }
        for (auto& record : open_) {
            record.end = leaf.offset + leaf.size;
        }
    }

    void close_records_from(std::size_t depth)
    {
        while (open_.size() > depth) {
            for (const auto& [query, at] : open_.back().waiting) {
                query->records[at].end = open_.back().end;
            }
            open_.pop_back();
        }
    }

    void hold(offset_query& query, const field_leaf& leaf, const field_leaf* previous)
    {
        query.holder = std::make_unique<kept_leaf>(leaf);
        if (previous != nullptr) {
            query.before = std::make_unique<kept_leaf>(*previous);
        }
        for (std::size_t depth = open_.size(); depth > 0; --depth) {
            open_[depth - 1].waiting.emplace_back(&query, query.records.size());
            query.records.push_back({path_of(leaf.place.view().first(depth)), open_[depth - 1].begin, leaf.offset + leaf.size});
        }
        without_after_.push_back(&query);
    }

    std::vector<offset_query> queries_;
    std::vector<std::size_t> order_; // of the queries, by offset
    std::size_t next_ = 0;           // in order_: the first query not yet held
    std::vector<offset_query*> without_after_;
    std::unique_ptr<kept_leaf> previous_;
    std::vector<open_record> open_;
};

void write_query(output_stream& out, const offset_query& query)
{
    const kept_leaf& holder = *query.holder;
    out.write_offset(query.offset);
    out.write(" (");
    out.write_number(query.offset);
    out.write(") is byte ");
    out.write_number(query.offset - holder.leaf.offset);
    out.write(" of ");
    out.write(holder.path);
    out.write(":\n  ");
    write_leaf_line(out, holder.leaf, holder.path);
    for (const auto& record : query.records) {
        out.write("  in ");
        out.write(record.path);
        out.write(": ");
        out.write_offset(record.begin);
        out.write(" to ");
        out.write_offset(record.end - 1);
        out.write(", ");
        out.write_number(record.end - record.begin);
        out.write(" bytes\n");
    }
    if (query.before) {
        out.write("  before: ");
        write_leaf_line(out, query.before->leaf, query.before->path);
    }
    if (query.after) {
        out.write("  after: ");
        write_leaf_line(out, query.after->leaf, query.after->path);
    }
}

} // namespace

void report_problem(const std::string& save, std::string_view text)
{
    platform::write_standard_error("orbse-fields: " + save + ": " + std::string(text) + "\n");
}

int list_fields(const std::string& save, bool json, output_stream& out)
{
    const auto input = save_input::prepare(save);
    const auto walk = input ? open_walk(*input) : nullptr;
    if (!walk) {
        return exit_trouble;
    }
    path_text paths;
    // The tail's bytes after its first piece go straight from the walk into
    // the output; the text line shows none of them.
    const further_bytes further = [&walk] { return walk->next_tail_piece(); };
    for (auto record = walk->next(); !record.empty(); record = walk->next()) {
        for (const field_leaf& leaf : record) {
            const std::string_view path = paths.of(leaf);
            json ? write_leaf_json(out, leaf, path, further) : write_leaf_line(out, leaf, path);
        }
    }
    const walk_summary& summary = walk->summary();
    if (summary.broken) {
        if (json) {
            write_break_object(out, *summary.broken);
        } else {
            out.write("error: ");
            write_break_text(out, *summary.broken);
        }
        out.put('\n');
    }
    return finish(save, summary, out);
}

int show_offsets(const std::string& save, const std::vector<std::uint64_t>& offsets, output_stream& out)
{
    const auto input = save_input::prepare(save);
    const auto walk = input ? open_walk(*input) : nullptr;
    if (!walk) {
        return exit_trouble;
    }
    offset_finder finder(offsets);
    bool wanted = true;
    // The walk goes on to the end after the last query is settled, for
    // whether the save breaks.
    for (auto record = walk->next(); !record.empty(); record = walk->next()) {
        wanted = wanted && finder.take_record(record);
    }
    finder.finish();
    const walk_summary& summary = walk->summary();
    int code = exit_done;
    for (const auto& query : finder.queries()) {
        if (query.holder) {
            write_query(out, query);
        } else if (query.offset >= summary.file_size) {
            out.flush();
            report_problem(save, "offset " + std::to_string(query.offset) + " lies past the end of the file (" +
                                     std::to_string(summary.file_size) + " bytes)");
            code = exit_trouble;
        } else {
            out.write_offset(query.offset);
            out.write(" (");
            out.write_number(query.offset);
            out.write(") lies after the break\n");
        }
    }
    if (summary.broken) {
        out.write("error: ");
        write_break_text(out, *summary.broken);
        out.put('\n');
    }
    return std::max(code, finish(save, summary, out));
}

int dump_save(const std::string& save, output_stream& out)
{
    const auto input = save_input::prepare(save);
    const auto walk = input ? open_walk(*input) : nullptr;
    if (!walk) {
        return exit_trouble;
    }
    dump_writer writer(out, [&walk] { return walk->next_tail_piece(); });
    for (auto record = walk->next(); !record.empty(); record = walk->next()) {
        for (const field_leaf& leaf : record) {
            writer.take(leaf);
        }
    }
    const walk_summary& summary = walk->summary();
    writer.finish(summary.broken ? &*summary.broken : nullptr);
    return finish(save, summary, out);
}

int check_saves(const std::vector<std::string>& saves, output_stream& out)
{
    int code = exit_done;
    for (const auto& save : saves) {
        const auto input = save_input::prepare(save);
        const auto walk = input ? open_walk(*input, false) : nullptr;
        if (!walk) {
            code = exit_trouble;
            continue;
        }
        while (!walk->next().empty()) {
        }
        const walk_summary& summary = walk->summary();
        out.write(save);
        out.write(": version ");
        out.write_number(summary.version);
        if (summary.broken) {
            out.write(", damaged: ");
            write_break_text(out, *summary.broken);
            out.put('\n');
            code = std::max(code, exit_damaged);
            continue;
        }
        out.write(", ");
        out.write_number(summary.lists);
        out.write(" lists, ");
        out.write_number(summary.units);
        out.write(" units, tail ");
        out.write_number(summary.tail_size);
        out.write(" bytes, complete\n");
    }
    if (!out.flush()) {
        platform::write_standard_error("orbse-fields: standard output could not be written\n");
        return exit_trouble;
    }
    return code;
}

} // namespace orbse::fields
