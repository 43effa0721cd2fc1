#include "cli_runner.h"

#include <QJsonArray>
#include <QRegularExpression>
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

const QStringList kCommands = {"decode", "replay", "table", "list",   "monitor", "record",
                               "export", "query",  "chart", "report", "results"};
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

// Every command tells its usage on --help (stdout, exit 0) and on bad usage (stderr, exit 2)
// from the one table of usage lines, which the program's own usage lists too.
TEST(CliUsage, EveryCommandHasHelpAndOneUsageLine) {
    const CliRun all = runCli({"--help"});
    ASSERT_EQ(all.exitCode, 0) << all.err.constData();
    const CliRun none = runCli({});
    EXPECT_EQ(none.exitCode, 2);
    for (const QString& name : kCommands) {
        SCOPED_TRACE(name.toStdString());
        const CliRun help = runCli({name, "--help"});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_FALSE(help.err.contains("usage")) << help.err.constData();
        const QList<QByteArray> lines = help.out.split('\n');
        ASSERT_GE(lines.size(), 3);
        ASSERT_TRUE(lines[0].startsWith("usage: kxlink-cli " + name.toLatin1() + " "));
        const QByteArray usage = lines[0].mid(int(strlen("usage: kxlink-cli ")));
        EXPECT_TRUE(all.out.contains("kxlink-cli " + usage));
        EXPECT_TRUE(none.err.contains("kxlink-cli " + usage));
        // The help explains every option its usage line names.
        auto options = QRegularExpression("--[a-z][a-z-]*").globalMatch(QString::fromLatin1(usage));
        while (options.hasNext()) {
            const QString option = options.next().captured();
            EXPECT_GE(QString::fromLatin1(help.out).count(option), 2) << option.toStdString();
        }
        EXPECT_TRUE(help.out.contains("--help"));

        const CliRun bad = runCli({name, "--no-such-option"});
        EXPECT_EQ(bad.exitCode, 2);
        EXPECT_TRUE(bad.out.isEmpty());
        EXPECT_TRUE(bad.err.contains("usage: " + usage + "\n")) << bad.err.constData();
        EXPECT_TRUE(bad.err.contains("no-such-option")) << bad.err.constData();
    }
}

// Bad usage of any kind: exit 2 with the command's usage line (the program's own without a
// command), nothing on stdout, and nothing written.
TEST(CliUsage, BadUsageIsToldAndDoesNothing) {
    QTemporaryDir dir;
    tableFile(dir, "t.db", readingRows(3));
    // Arguments as words; '@' names a file of the folder.
    const char* cases[] = {
        "", "no-such-command", "decode", "replay", "list extra", "query", "query select *",
        "monitor --frames", "monitor --frames x",
        // A fault script is played on the demo's cable only, and read strictly.
        "monitor --demo-faults silent@1+1", "monitor --demo --demo-faults quiet@1+1",
        "record --demo --demo-faults silent@1+2,silent@2+1 --frames 1 --out @u.db",
        "record --demo --frames 1", // --out or --append is needed
        "record --demo --interval abc --out @u.db", "record --demo --interval -5 --out @u.db",
        "record --demo --frames 1 --append @t.db --out @u.db", "record --demo --append",
        // A recording is a table, named as one.
        "record --demo --frames 1 --out @rec.txt", "record --demo --frames 1 --append @rec.csv",
        "record --demo --frames 1 --out @rec", "record --demo --frames 1 --append @t.db.txt",
        "export @t.db", "export @t.db @a @b", "export @t.db @u.txt --keyed",
        // Only ',' and ';' part fields, and only a .csv file has them.
        "export @t.db --delimiter \t @u.csv", "export @t.db --delimiter ;; @u.csv",
        "export @t.db --delimiter ; @u.txt", "export @t.db --decimal-comma @u.xlsx",
        "export @t.db --delimiter @u.csv", "chart @t.db", "chart --out @u.bmp",
        "chart @t.db --out @u.jpg", "chart @t.db --per-page -1 --out @u.bmp",
        "chart @t.db --per-page many --out @u.bmp", "chart @t.db --page 0 --out @u.bmp",
        "chart @t.db @t.db --out @u.bmp", "report @t.db", "report @t.db --out @u.doc",
        "report @t.db --kind pie --out @u.pdf",
        "report @t.db --kind graph --out @u.pdf", // no picture
        "report @t.db --store --kind graph --picture x.png --out @u.pdf", "report --out @u.pdf",
        // The judging options belong to the insulation test report only.
        "report @t.db --minimum 5 --out @u.txt",
        "report @t.db --kind results --base 25 --out @u.txt", "results", "results @t.db @t.db",
        "results @t.db --base 30", "results @t.db --temperature 250",
        "results @t.db --temperature -51", "results @t.db --temperature warm",
        "results @t.db --minimum 0", "results @t.db --minimum 1,5", "results @t.db --pi-minimum -2",
        "results @t.db --pi-minimum nan"};
    const auto before = folderState(dir.path());
    for (const char* line : cases) {
        SCOPED_TRACE(line);
        const QStringList args = cliArgs(dir, line);
        const CliRun r = runCli(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
        const QString usage = kCommands.contains(args.value(0)) ? args[0] : "kxlink-cli COMMAND";
        EXPECT_TRUE(r.err.contains("usage: " + usage.toLatin1())) << r.err.constData();
    }
    EXPECT_EQ(folderState(dir.path()), before);
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
    CliRun r = runCli({"replay", file.fileName()});
    ASSERT_EQ(r.exitCode, 0);
    for (const char* line : {"line 1", "line 2", "line 3"})
        EXPECT_TRUE(r.err.contains(line)) << line;
    const auto objs = r.jsonLines();
    ASSERT_EQ(objs.size(), 2);
    EXPECT_EQ(objs[1]["frames"].toInt(), 1);

    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(static_cast<char>((i * 7919) & 0xFF));
    r = runCli({"replay", "-"}, garbage);
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

TEST(CliList, DemoBusHoldsTheCableAndTheEmptyBusNothing) {
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

    const CliRun empty = runCli({"list"});
    EXPECT_EQ(empty.exitCode, 0) << empty.err.constData();
    EXPECT_TRUE(empty.out.isEmpty()) << empty.out.constData();
}
