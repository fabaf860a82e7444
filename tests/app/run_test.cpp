#include <gtest/gtest.h>

#include "platform/CWinApp.h"
#include "tests/support/bytes.h"
#include "tests/support/in_process.h"
#include "tests/support/temp_dir.h"

namespace {

using namespace support;

TEST(Run, WithoutAnApplicationObjectInitialisationFailsAndNothingIsTouched)
{
    TempDir dir;
    write_file("data", record(0xC1));
    write_file("Velmorane.Log", bytes("kept"));
    RunResult const result = run_in_process({ "data" });
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Fatal Error: MFC initialization failed\n");
    EXPECT_EQ(read_file("data"), record(0xC1));
    EXPECT_EQ(read_file("Velmorane.Log"), bytes("kept"));
}

TEST(Run, AnApplicationObjectLetsTheRunGoOn)
{
    CWinApp app(nullptr);
    TempDir dir;
    write_file("data", record(0xC1));
    RunResult const result = run_in_process({ "data" });
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "Hello from MFC!\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(read_file("data"), record(0x41));
}

}  // namespace
