#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "clean/record_pass.h"
#include "tests/support/bytes.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace support;

struct PassCase {
    char const* name;
    Bytes input;
    Bytes expected;
    int modified_records;
};

Bytes all_byte_values()
{
    Bytes values;
    for (int value = 0; value < 256; ++value)
        values.push_back(static_cast<std::uint8_t>(value));
    return values;
}

Bytes low_half_twice()
{
    Bytes const values = all_byte_values();
    Bytes const low(values.begin(), values.begin() + 128);
    return low + low;
}

PassCase const pass_cases[] = {
    { "Empty", {}, {}, 0 },
    { "OneByte", repeat(0xFF, 1), repeat(0xFF, 1), 0 },
    { "ShortOfARecord", repeat(0xFF, 127), repeat(0xFF, 127), 0 },
    { "CleanRecords", record('a') + record(0x7F), record('a') + record(0x7F), 0 },
    { "EveryByteValue", all_byte_values(), low_half_twice(), 1 },
    { "AllDirty", record(0x80) + record(0xFF), record(0x00) + record(0x7F), 2 },
    { "TailStaysAsItIs", record(0xC1) + repeat(0xFF, 127), record(0x41) + repeat(0xFF, 127), 1 },
    { "OnlyByte126", record('a', { { 126, 0xE1 } }), record('a'), 1 },
    { "OnlyByte127", record('a', { { 127, 0x8A } }), record('a', { { 127, 0x0A } }), 1 },
    { "MarkerStopsBeforeCleaning", record(0xC1) + record(0xFF, { { 0, 0x1A } }) + record(0xFF),
        record(0x41) + record(0xFF, { { 0, 0x1A } }) + record(0xFF), 1 },
    { "MarkerInTheFirstRecord", record(0xFF, { { 0, 0x1A } }), record(0xFF, { { 0, 0x1A } }), 0 },
    { "MarkerLaterInARecordIsData", record('a', { { 1, 0x1A }, { 2, 0x9A } }) + record(0xFF),
        record('a', { { 1, 0x1A }, { 2, 0x1A } }) + record(0x7F), 2 },
    { "CleanedMarkerDoesNotStop", record('a', { { 0, 0x9A }, { 9, 0xE2 } }) + record(0xC3),
        record('a', { { 0, 0x1A }, { 9, 0x62 } }) + record(0x43), 2 },
    { "CleanRecordsBetweenDirtyOnes", record(0x80) + record('x') + record(0x80),
        record(0x00) + record('x') + record(0x00), 2 },
};

void PrintTo(PassCase const& row, std::ostream* out) { *out << row.name; }

class RecordPass : public testing::TestWithParam<PassCase> {
protected:
    // Runs open, loop and close on path, as the tool does.
    static std::int64_t clean_file(char const* path, std::vector<Bytes>* changed = nullptr)
    {
        CFile file;
        EXPECT_TRUE(clean::open_data_file(file, path));
        clean::Record record;
        clean::OnChangedRecord on_changed;
        if (changed != nullptr)
            on_changed = [changed](clean::Record& r) { changed->emplace_back(std::begin(r), std::end(r)); };
        std::int64_t const count = clean::run_record_loop(file, record, on_changed);
        clean::close_data_file(file);
        return count;
    }
};

timespec modified_time(char const* path)
{
    struct stat info {};
    stat(path, &info);
    return info.st_mtim;
}

TEST_P(RecordPass, CleansInPlaceAndASecondRunChangesNothing)
{
    TempDir dir;
    write_file("data", GetParam().input);
    // An old timestamp shows whether a run wrote the file at all.
    timespec const old_times[2] = { { 1'000'000'000, 0 }, { 1'000'000'000, 0 } };
    utimensat(AT_FDCWD, "data", old_times, 0);

    std::vector<Bytes> changed;
    EXPECT_EQ(clean_file("data", &changed), GetParam().modified_records);
    EXPECT_EQ(show(read_file("data")), show(GetParam().expected));
    EXPECT_EQ(changed.size(), static_cast<std::size_t>(GetParam().modified_records));
    if (GetParam().modified_records == 0) {
        EXPECT_EQ(modified_time("data").tv_sec, 1'000'000'000) << "a file that needs no change is never written";
    }

    utimensat(AT_FDCWD, "data", old_times, 0);
    EXPECT_EQ(clean_file("data"), 0);
    EXPECT_EQ(show(read_file("data")), show(GetParam().expected));
    EXPECT_EQ(modified_time("data").tv_sec, 1'000'000'000);
}

INSTANTIATE_TEST_SUITE_P(
    Files, RecordPass, testing::ValuesIn(pass_cases), [](auto const& info) { return std::string(info.param.name); });

TEST(RecordPassHandOff, EachChangedRecordIsHandedOnAfterItsWriteBack)
{
    TempDir dir;
    write_file("data", record(0xC1) + record('b') + record(0xC3));
    CFile file;
    ASSERT_TRUE(clean::open_data_file(file, "data"));
    clean::Record record_buffer;
    std::vector<Bytes> seen;
    clean::OnChangedRecord on_changed = [&](clean::Record& r) {
        seen.emplace_back(std::begin(r), std::end(r));
        // What the receiver does to the buffer never reaches the data file.
        r[126] = '\n';
        r[127] = '\0';
    };
    EXPECT_EQ(clean::run_record_loop(file, record_buffer, on_changed), 2);
    clean::close_data_file(file);
    EXPECT_EQ(seen, (std::vector<Bytes> { record(0x41), record(0x43) }));
    EXPECT_EQ(read_file("data"), record(0x41) + record('b') + record(0x43));
}

TEST(RecordPassHandOff, AFileExceptionFromTheReceiverEndsThePass)
{
    TempDir dir;
    write_file("data", record(0xC1) + record(0xC2));
    CFile file;
    ASSERT_TRUE(clean::open_data_file(file, "data"));
    clean::Record record_buffer;
    clean::OnChangedRecord on_changed = [](clean::Record&) { throw new CFileException(CFileException::generic, 5); };
    EXPECT_EQ(clean::run_record_loop(file, record_buffer, on_changed), 1);
    clean::close_data_file(file);
    EXPECT_EQ(read_file("data"), record(0x41) + record(0xC2));
}

TEST(RecordPassClose, AClosedFileIsClosedWithoutThrowing)
{
    CFile never_opened;
    clean::close_data_file(never_opened);
}

}  // namespace
