#include "cli/cli_runner.h"

#include <gtest/gtest.h>

TEST(CliList, DemoBusHoldsTheCable) {
    const CliRun r = runCli({"list", "--demo"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 1);
    const QJsonObject o = objs[0];
    EXPECT_EQ(o.value("name").toString(), QStringLiteral("USB to Serial"));
    EXPECT_EQ(o.value("vendor").toInt(), 0x1A86);
    EXPECT_EQ(o.value("product").toInt(), 0xE008);
    EXPECT_TRUE(o.value("version").isDouble());
    EXPECT_FALSE(o.value("path").toString().isEmpty());
    EXPECT_EQ(o.value("serial").toString(), QString());
    EXPECT_TRUE(o.value("readWrite").toBool());
}

TEST(CliList, EmptyBusAndBadUsage) {
    const CliRun r = runCli({"list"});
    EXPECT_EQ(r.exitCode, 0) << r.err.constData();
    EXPECT_TRUE(r.out.isEmpty()) << "no devices on the empty bus: " << r.out.constData();
    EXPECT_EQ(runCli({"list", "--bogus"}).exitCode, 2);
}
