#include "tests/support/clean_model.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace support {

namespace {

constexpr std::size_t record_size = 128;
constexpr std::size_t summary_size = 127;

Bytes line_of(std::uint8_t const* cleaned_record)
{
    // The line stops at the first zero byte among the first 126; without one
    // it takes all 126 and a line feed.
    auto const* const zero = static_cast<std::uint8_t const*>(std::memchr(cleaned_record, 0, 126));
    Bytes line(cleaned_record, zero != nullptr ? zero : cleaned_record + 126);
    if (zero == nullptr)
        line.push_back('\n');
    return line;
}

bool starts_with(Bytes const& text, std::size_t at, Bytes const& part)
{
    return text.size() - at >= part.size() && std::equal(part.begin(), part.end(), text.begin() + long(at));
}

Bytes slice(Bytes const& data, std::size_t at, std::size_t size)
{
    return Bytes(data.begin() + long(at), data.begin() + long(at + size));
}

// The count of a summary line, when text is exactly one.
std::optional<long long> summary_count(Bytes const& text)
{
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return std::nullopt;
    std::string const digits(text.begin(), std::find(text.begin(), text.end(), ' '));
    if (digits.size() > 19 || !std::ranges::all_of(digits, [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    long long const count = std::strtoll(digits.c_str(), nullptr, 10);
    if (text != summary_line(count))
        return std::nullopt;
    return count;
}

}  // namespace

Bytes ModelRun::log() const
{
    Bytes log;
    for (auto const& line : lines)
        log.insert(log.end(), line.begin(), line.end());
    Bytes const summary = summary_line(static_cast<long long>(lines.size()));
    log.insert(log.end(), summary.begin(), summary.end());
    return log;
}

ModelRun model_run(Bytes const& original)
{
    ModelRun model { original, {}, 0 };
    std::uint8_t* const bytes = model.data.data();
    std::size_t at = 0;
    for (; at + record_size <= original.size(); at += record_size) {
        if (bytes[at] == 0x1A)
            break;
        std::uint8_t seen = 0;
        for (std::size_t i = at; i < at + record_size; ++i) {
            seen |= bytes[i];
            bytes[i] &= 0x7F;
        }
        if ((seen & 0x80) != 0)
            model.lines.push_back(line_of(bytes + at));
    }
    model.stop = at;
    return model;
}

std::optional<LogShape> log_shape(ModelRun const& model, Bytes const& log)
{
    // Try every count of leading record lines: a record line may look like a
    // summary line, and an empty one adds nothing.
    std::optional<LogShape> shape;
    std::size_t at = 0;
    for (std::size_t lines = 0;; ++lines) {
        if (at == log.size()) {
            shape = LogShape { lines, std::nullopt };
        } else if (log.size() - at == summary_size) {
            auto const count = summary_count(slice(log, at, summary_size));
            if (count && *count >= static_cast<long long>(lines))
                shape = LogShape { lines, count };
        }
        if (lines == model.lines.size() || !starts_with(log, at, model.lines[lines]))
            break;
        at += model.lines[lines].size();
    }
    return shape;
}

std::size_t records_treated(ModelRun const& model, Bytes const& data)
{
    std::size_t records = 0;
    while ((records + 1) * record_size <= model.stop
        && std::equal(data.begin() + long(records * record_size), data.begin() + long((records + 1) * record_size),
            model.data.begin() + long(records * record_size)))
        ++records;
    return records;
}

std::string broken_promise(Bytes const& original, std::optional<Bytes> const& earlier_log, Outcome const& outcome)
{
    Bytes const& data = outcome.data;
    if (outcome.status != 0 && outcome.status != 1)
        return "exit status " + std::to_string(outcome.status);
    if (data.size() != original.size())
        return "the length changed from " + std::to_string(original.size()) + " to " + std::to_string(data.size());
    ModelRun const model = model_run(original);
    std::uint8_t const* const now = data.data();
    std::uint8_t const* const was = original.data();
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (now[i] != was[i] && (now[i] != (was[i] & 0x7F) || i >= model.stop))
            return "byte " + std::to_string(i) + " changed from " + std::to_string(original[i]) + " to "
                + std::to_string(data[i]);
    }
    std::size_t const treated = records_treated(model, data);
    for (std::size_t at = treated * record_size; at < model.stop; at += record_size) {
        if (!std::equal(data.begin() + long(at), data.begin() + long(at + record_size), original.begin() + long(at)))
            return "record " + std::to_string(at / record_size) + " changed after record " + std::to_string(treated)
                + " was left";
    }
    if (outcome.status == 1 && data != original)
        return "status 1 with the data file changed";

    if (!outcome.log) {
        if (earlier_log)
            return "the earlier log is gone";
        return "";
    }
    if (earlier_log && *outcome.log == *earlier_log)
        return "";
    auto const shape = log_shape(model, *outcome.log);
    if (!shape) {
        std::size_t const shown = std::min<std::size_t>(outcome.log->size(), 200);
        return "the log is not record lines and a summary line; it ends with: "
            + show(slice(*outcome.log, outcome.log->size() - shown, shown));
    }
    if (outcome.status == 1 && !outcome.log->empty())
        return "status 1 with a log written";
    long long cleaned_on_disk = 0;
    for (std::size_t at = 0; at < treated * record_size; at += record_size) {
        if (!std::equal(data.begin() + long(at), data.begin() + long(at + record_size), original.begin() + long(at)))
            ++cleaned_on_disk;
    }
    // Changed records are written back a block at a time, after their lines:
    // when that write fails, at most one block's records have lines but are
    // unchanged on disk.
    constexpr long long records_per_block = 512;
    if (static_cast<long long>(shape->lines) > cleaned_on_disk + records_per_block)
        return std::to_string(shape->lines) + " records have lines, but only " + std::to_string(cleaned_on_disk)
            + " were cleaned";
    if (shape->summary) {
        // Records cleaned on disk were all counted before their write-back.
        if (*shape->summary < cleaned_on_disk)
            return "the summary counts " + std::to_string(*shape->summary) + " records, but "
                + std::to_string(cleaned_on_disk) + " were cleaned";
        if (*shape->summary > static_cast<long long>(model.lines.size()))
            return "the summary counts more records than changed";
        // Only the record in hand when the pass failed may lack its line.
        if (*shape->summary > static_cast<long long>(shape->lines) + 1)
            return "the summary counts " + std::to_string(*shape->summary) + " records, but only "
                + std::to_string(shape->lines) + " have lines";
    }
    return "";
}

}  // namespace support
