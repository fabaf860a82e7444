#include <gtest/gtest.h>

#include <string>

#include "platform/CWinApp.h"

namespace {

TEST(GetCommandLineA, HoldsTheProgramsNameAndItsArguments)
{
    std::string const line = platform::GetCommandLineA();
    EXPECT_NE(line.find("unit_tests"), std::string::npos) << line;
    EXPECT_EQ(line.find('\0'), std::string::npos);
    EXPECT_EQ(platform::GetCommandLineA(), platform::GetCommandLineA()) << "read once";
}

}  // namespace
