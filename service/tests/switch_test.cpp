#include <gtest/gtest.h>

#include "install.h"

TEST(Switches, FirstArgumentPicksTheMode) {
    const struct {
        const char* argument;
        Switch want;
    } cases[] = {
        {"-i", Switch::kInstall},   {"/i", Switch::kInstall},    {"-I", Switch::kInstall},
        {"/U", Switch::kUninstall}, {"-u", Switch::kUninstall},  {"-d", Switch::kConsole},
        {"/D", Switch::kConsole},   {"-s", Switch::kStatistics}, {"/S", Switch::kStatistics},
        {"i", Switch::kUsage},      {"-x", Switch::kUsage},      {"/install", Switch::kUsage},
        {"-", Switch::kUsage},      {"", Switch::kUsage},        {"--i", Switch::kUsage},
        {"-ii", Switch::kUsage},    {nullptr, Switch::kUsage},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseSwitch(c.argument), c.want) << "argument " << (c.argument ? c.argument : "(null)");
}
