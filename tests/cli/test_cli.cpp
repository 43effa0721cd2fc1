#include "cli_runner.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <gtest/gtest.h>

namespace {
const QString kExample = QStringLiteral("FFF700007D7AE07D5B100EE3A7368857D7DFD0EF0D0A");

// The example frame cut into cable reports: seven of three bytes, one of one, then idle.
QByteArray exampleReports() {
    const QByteArray frame = QByteArray::fromHex(kExample.toLatin1());
    QByteArray text = "# the worked example frame\n";
    for (int i = 0; i < frame.size(); i += 3) {
        const QByteArray chunk = frame.mid(i, 3);
        text += "00 F" + QByteArray::number(chunk.size()) + " " + chunk.toHex(' ').toUpper() + "\n";
    }
    text += "00 F0 00 00 00 00 00 00 00\n";
    return text;
}
} // namespace

TEST(CliDecode, CarriesStateFromFrameToFrame) {
    const CliRun r = runCli({"decode", kExample, kExample.left(40) + "0D0B"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 2);

    const QJsonObject a = objs[0];
    EXPECT_TRUE(a["accepted"].toBool());
    EXPECT_TRUE(a["record"].toBool());
    EXPECT_EQ(a["value"].toString(), "1.234");
    EXPECT_EQ(a["unit"].toString(), QString::fromUtf8("GΩ"));
    EXPECT_EQ(a["function"].toString(), QString::fromUtf8("IR:1000V 40GΩ"));
    EXPECT_EQ(a["mode"].toString(), "Timed");
    EXPECT_TRUE(a["strip"].toBool());
    EXPECT_TRUE(a["lit"].toArray().contains("Point1"));
    EXPECT_FALSE(a["lit"].toArray().contains("stor1"));
    EXPECT_EQ(a["digits"].toObject().size(), 13);
    EXPECT_EQ(a["digits"]["M_Time1"]["glyph"].toString(), "3");

    const QJsonObject b = objs[1];
    EXPECT_FALSE(b["accepted"].toBool());
    EXPECT_FALSE(b["record"].toBool());
    EXPECT_EQ(b["value"].toString(), "");
    EXPECT_EQ(b["mode"].toString(), "Continuous");
    EXPECT_EQ(b["function"].toString(), QString::fromUtf8("IR:1000V 40GΩ"))
        << "kept from the frame before";
}

TEST(CliDecode, BadUsage) {
    const CliRun r = runCli({"decode"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("usage"));
    EXPECT_EQ(runCli({}).exitCode, 2);
    EXPECT_EQ(runCli({"no-such-command"}).exitCode, 2);
}

// Every command tells its usage on --help (stdout, exit 0) and on bad usage (stderr, exit 2)
// from the one table of usage lines, which the program's own usage lists too.
TEST(CliUsage, EveryCommandHasHelpAndOneUsageLine) {
    const CliRun all = runCli({"--help"});
    ASSERT_EQ(all.exitCode, 0) << all.err.constData();
    for (const char* name :
         {"decode", "replay", "table", "list", "export", "query", "chart", "report"}) {
        const CliRun help = runCli({name, "--help"});
        EXPECT_EQ(help.exitCode, 0) << name;
        EXPECT_FALSE(help.err.contains("usage")) << name << ": " << help.err.constData();
        const QList<QByteArray> lines = help.out.split('\n');
        ASSERT_GE(lines.size(), 3) << name;
        const QByteArray usage = lines[0].mid(int(strlen("usage: kxlink-cli ")));
        EXPECT_TRUE(lines[0].startsWith(QByteArray("usage: kxlink-cli ") + name)) << name;
        EXPECT_TRUE(help.out.contains("--help")) << name;
        EXPECT_TRUE(all.out.contains("kxlink-cli " + usage)) << name;

        const CliRun bad = runCli({name, "--no-such-option"});
        EXPECT_EQ(bad.exitCode, 2) << name;
        EXPECT_TRUE(bad.out.isEmpty()) << name;
        EXPECT_TRUE(bad.err.contains("usage: " + usage + "\n"))
            << name << ": " << bad.err.constData();
        EXPECT_TRUE(bad.err.contains("no-such-option")) << name << ": " << bad.err.constData();
    }
    EXPECT_TRUE(runCli({}).err.contains("kxlink-cli report FILE.db"));
}

TEST(CliReplay, ReportsFromStandardInput) {
    QByteArray input = "00 F0 00 00 00 00 00 00 00\n\n" + exampleReports();
    input += "00\n"; // a report without data bytes
    const CliRun r = runCli({"replay", "-"}, input);
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 2);
    EXPECT_EQ(objs[0]["hex"].toString(), kExample);
    EXPECT_EQ(objs[0]["value"].toString(), "1.234");
    EXPECT_EQ(objs[1]["reports"].toInt(), 11);
    EXPECT_EQ(objs[1]["frames"].toInt(), 1);
    EXPECT_EQ(objs[1]["idle"].toInt(), 1);
}

TEST(CliReplay, MalformedLinesAreReportedAndSkipped) {
    QByteArray input = "00 F3 0D 0\n" // odd digit count
                       "00 ZZ\n"      // not hex
                       + QByteArray("00 ") + QByteArray(65, 'A').toHex(' ') + "\n" // too long
                       + exampleReports();
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    file.write(input);
    file.close();
    const CliRun r = runCli({"replay", file.fileName()});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.err.contains("line 1"));
    EXPECT_TRUE(r.err.contains("line 2"));
    EXPECT_TRUE(r.err.contains("line 3"));
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 2);
    EXPECT_EQ(objs[1]["frames"].toInt(), 1);
}

TEST(CliReplay, MissingFileAndGarbage) {
    EXPECT_EQ(runCli({"replay", "/nonexistent/reports.txt"}).exitCode, 1);
    EXPECT_EQ(runCli({"replay"}).exitCode, 2);
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 7919) & 0xFF));
    const CliRun r = runCli({"replay", "-"}, garbage);
    EXPECT_EQ(r.exitCode, 0);
}

// Standard output on a full device: every command says so and fails, whatever it printed.
TEST(CliOutput, LostOutputIsAFailure) {
    QTemporaryDir dir;
    const QString table = dir.filePath("t.db");
    ASSERT_EQ(runCli({"record", "--demo", "--frames", "2", "--out", table}).exitCode, 0);
    const QByteArray reports = exampleReports();
    const QList<QStringList> commands = {
        {"table", "info", table},
        {"table", "dump", table},
        {"table", "dump", "--raw", table},
        {"decode", kExample},
        {"replay", "-"},
        {"list", "--demo"},
        {"monitor", "--demo", "--frames", "1"},
        {"record", "--demo", "--frames", "1", "--out", dir.filePath("r.db")},
    };
    for (const QStringList& args : commands) {
        const CliRun r = runCli(args, reports, 60000, QStringLiteral("/dev/full"));
        EXPECT_EQ(r.exitCode, 1) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("Cannot write to standard output: No space left on device"))
            << args.join(' ').toStdString() << ": " << r.err.constData();
    }
    // Bad usage stays bad usage.
    EXPECT_EQ(runCli({"decode"}, {}, 60000, QStringLiteral("/dev/full")).exitCode, 2);
}
