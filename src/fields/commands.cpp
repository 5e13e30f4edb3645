#include "fields/commands.h"

#include "fields/dump_writer.h"
#include "fields/leaf_format.h"
#include "orbsaves/save_walk.h"
#include "runtime/failures.h"
#include "runtime/platform.h"

#include <algorithm>
#include <functional>
#include <new>
#include <optional>

namespace orbse::fields {
namespace {

// Runs the walk, turning what stops it before it starts into a message and
// exit 2: a save that cannot be opened, or memory that runs out.
std::optional<walk_result> walk_or_report(const std::string& save, leaf_sink* sink)
{
    try {
        return walk_save(save, sink);
    } catch (const failure& failed) {
        report_problem(save, failed.message());
    } catch (const std::bad_alloc&) {
        report_problem(save, "Out of memory");
    }
    return std::nullopt;
}

int finish(const std::string& save, const walk_result& result, output_stream& out)
{
    out.flush();
    if (out.failed()) {
        report_problem(save, "standard output could not be written");
        return exit_trouble;
    }
    if (result.broken) {
        report_problem(save, "damaged save: " + result.broken->message);
        return exit_damaged;
    }
    return exit_done;
}

class listing final : public leaf_sink {
public:
    listing(output_stream& out, bool json) : out_(out), json_(json) {}
    void take(const field_leaf& leaf) override { json_ ? write_leaf_json(out_, leaf) : write_leaf_line(out_, leaf); }
    bool take_references(const reference_run& run) override
    {
        json_ ? write_references_json(out_, run) : write_references_lines(out_, run);
        return true;
    }

private:
    output_stream& out_;
    bool json_;
};

// A leaf kept beyond the walk's next step.
struct kept_leaf {
    field_leaf leaf;
    std::string path;
    std::string note;
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint16_t> words;

    explicit kept_leaf(const field_leaf& from)
        : leaf(from), path(from.path), note(from.note), bytes(from.bytes.begin(), from.bytes.end()),
          words(from.words.begin(), from.words.end())
    {
    }
    kept_leaf(const kept_leaf& other) : kept_leaf(other.view()) {}
    kept_leaf& operator=(const kept_leaf& other)
    {
        if (this != &other) {
            *this = kept_leaf(other.view());
        }
        return *this;
    }
    kept_leaf& operator=(kept_leaf&&) = default;
    kept_leaf(kept_leaf&&) = default;

    field_leaf view() const
    {
        field_leaf shown = leaf;
        shown.path = path;
        shown.note = note;
        shown.bytes = bytes;
        shown.words = words;
        return shown;
    }
};

// The records a leaf lies in: every prefix of its path up to a '.'.
std::vector<std::string> enclosing_records(std::string_view path)
{
    std::vector<std::string> records;
    for (std::size_t at = path.find('.'); at != std::string_view::npos; at = path.find('.', at + 1)) {
        records.emplace_back(path.substr(0, at));
    }
    return records;
}

bool lies_in(std::string_view path, std::string_view record)
{
    return path.size() > record.size() && path.starts_with(record) && path[record.size()] == '.';
}

struct record_span {
    std::string path;
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    bool open = true;
};

// One asked offset: the leaf holding it, its neighbours, and the records
// around it with where each begins and ends.
struct offset_query {
    std::uint64_t offset = 0;
    std::optional<kept_leaf> before;
    std::optional<kept_leaf> holder;
    std::optional<kept_leaf> after;
    std::vector<record_span> records;

    bool settled() const
    {
        return holder && after && std::none_of(records.begin(), records.end(), [](const record_span& r) { return r.open; });
    }
};

class offset_finder final : public leaf_sink {
public:
    explicit offset_finder(const std::vector<std::uint64_t>& offsets)
    {
        for (const auto offset : offsets) {
            queries_.push_back({offset, {}, {}, {}, {}});
        }
    }

    void take(const field_leaf& leaf) override
    {
        track_record_starts(leaf);
        for (auto& query : queries_) {
            if (query.holder) {
                follow(query, leaf);
            } else if (query.offset >= leaf.offset && query.offset < leaf.offset + leaf.size) {
                hold(query, leaf);
            }
        }
        previous_.emplace(leaf);
    }

    const std::vector<offset_query>& queries() const { return queries_; }

private:
    // Where each record of the current leaf's path began.
    void track_record_starts(const field_leaf& leaf)
    {
        const auto records = enclosing_records(leaf.path);
        std::size_t same = 0;
        while (same < records.size() && same < starts_.size() && starts_[same].first == records[same]) {
            ++same;
        }
        starts_.resize(same);
        for (std::size_t level = same; level < records.size(); ++level) {
            starts_.emplace_back(records[level], leaf.offset);
        }
    }

    void hold(offset_query& query, const field_leaf& leaf)
    {
        query.holder.emplace(leaf);
        if (previous_) {
            query.before = previous_;
        }
        for (auto start = starts_.rbegin(); start != starts_.rend(); ++start) {
            query.records.push_back({start->first, start->second, leaf.offset + leaf.size, true});
        }
    }

    static void follow(offset_query& query, const field_leaf& leaf)
    {
        if (!query.after) {
            query.after.emplace(leaf);
        }
        for (auto& record : query.records) {
            if (record.open && lies_in(leaf.path, record.path)) {
                record.end = leaf.offset + leaf.size;
            } else {
                record.open = false;
            }
        }
    }

    std::vector<offset_query> queries_;
    std::optional<kept_leaf> previous_;
    std::vector<std::pair<std::string, std::uint64_t>> starts_;
};

void write_query(output_stream& out, const offset_query& query)
{
    const field_leaf holder = query.holder->view();
    out.write_offset(query.offset);
    out.write(" (");
    out.write_number(query.offset);
    out.write(") is byte ");
    out.write_number(query.offset - holder.offset);
    out.write(" of ");
    out.write(holder.path);
    out.write(":\n  ");
    write_leaf_line(out, holder);
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
        write_leaf_line(out, query.before->view());
    }
    if (query.after) {
        out.write("  after: ");
        write_leaf_line(out, query.after->view());
    }
}

} // namespace

void report_problem(const std::string& save, std::string_view text)
{
    std::string line = "orbse-fields: ";
    line += save;
    line += ": ";
    line += text;
    line += '\n';
    platform::write_standard_error(line);
}

int list_fields(const std::string& save, bool json, output_stream& out)
{
    listing sink(out, json);
    const auto result = walk_or_report(save, &sink);
    if (!result) {
        return exit_trouble;
    }
    if (result->broken) {
        if (json) {
            write_break_json(out, *result->broken);
        } else {
            out.write("error: ");
            write_break_text(out, *result->broken);
            out.put('\n');
        }
    }
    return finish(save, *result, out);
}

int show_offsets(const std::string& save, const std::vector<std::uint64_t>& offsets, output_stream& out)
{
    offset_finder finder(offsets);
    const auto result = walk_or_report(save, &finder);
    if (!result) {
        return exit_trouble;
    }
    int code = exit_done;
    for (const auto& query : finder.queries()) {
        if (query.holder) {
            write_query(out, query);
        } else if (query.offset >= result->file_size) {
            out.flush();
            report_problem(save, "offset " + std::to_string(query.offset) + " lies past the end of the file (" +
                                     std::to_string(result->file_size) + " bytes)");
            code = exit_trouble;
        } else {
            out.write_offset(query.offset);
            out.write(" (");
            out.write_number(query.offset);
            out.write(") lies after the break\n");
        }
    }
    if (result->broken) {
        out.write("error: ");
        write_break_text(out, *result->broken);
        out.put('\n');
    }
    return std::max(code, finish(save, *result, out));
}

int dump_save(const std::string& save, output_stream& out)
{
    dump_writer writer(out);
    const auto result = walk_or_report(save, &writer);
    if (!result) {
        return exit_trouble;
    }
    writer.finish(result->broken ? &*result->broken : nullptr);
    return finish(save, *result, out);
}

int check_saves(const std::vector<std::string>& saves, output_stream& out)
{
    int code = exit_done;
    for (const auto& save : saves) {
        const auto result = walk_or_report(save, nullptr);
        if (!result) {
            code = exit_trouble;
            continue;
        }
        out.write(save);
        out.write(": version ");
        out.write_number(result->version);
        if (result->broken) {
            out.write(", damaged: ");
            write_break_text(out, *result->broken);
            out.put('\n');
            code = std::max(code, exit_damaged);
            continue;
        }
        out.write(", ");
        out.write_number(result->lists);
        out.write(" lists, ");
        out.write_number(result->units);
        out.write(" units, tail ");
        out.write_number(result->tail_size);
        out.write(" bytes, complete\n");
    }
    out.flush();
    if (out.failed()) {
        platform::write_standard_error("orbse-fields: standard output could not be written\n");
        return exit_trouble;
    }
    return code;
}

} // namespace orbse::fields
