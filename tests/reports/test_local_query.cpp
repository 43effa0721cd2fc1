#include "reports/local_query.h"

#include "common/cp936.h"
#include "paradox/paradox_writer.h"
#include "reports/report_fixtures.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace kx;

namespace {

QueryStatement parsed(const QString& text) {
    const Result<QueryStatement> r = parseQueryStatement(text);
    EXPECT_TRUE(r.ok()) << text.toStdString() << ": " << r.error().toStdString();
    return r.ok() ? r.value() : QueryStatement{};
}

QString refusal(const QString& text) {
    const Result<QueryStatement> r = parseQueryStatement(text);
    EXPECT_FALSE(r.ok()) << text.toStdString() << " was accepted";
    return r.ok() ? QString() : r.error();
}

struct QueryFile : ::testing::Test {
    QTemporaryDir dir;
    QString path;

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath("Readings.DB");
        kxtest::writeReadings(path, {{"1.234", "G\xA6\xB8"},
                                     {"500", "V"},
                                     {"12.5", "M\xA6\xB8"},
                                     {"499", "V"},
                                     {"0.3", "A"},
                                     {"", nullptr},
                                     {"25", "0C"}});
    }

    // The No of every row a statement delivers, or the failure's message.
    Result<std::vector<int>> run(const QString& text) const {
        Result<QueryStatement> st = parseQueryStatement(text);
        if (!st)
            return fail(st.error());
        Result<TableQuery> q = TableQuery::prepare(st.value());
        if (!q)
            return fail(q.error());
        std::vector<int> nos;
        const Status s = q.value().forEachRow([&](const px::Record& r) {
            nos.push_back(static_cast<int>(r[0].toInt()));
            return true;
        });
        if (!s)
            return fail(s.error());
        return nos;
    }
    std::vector<int> rows(const QString& text) const {
        const Result<std::vector<int>> r = run(text);
        EXPECT_TRUE(r.ok()) << text.toStdString() << ": " << r.error().toStdString();
        return r.ok() ? r.value() : std::vector<int>{};
    }
    QString where(const QString& condition) const {
        return QStringLiteral("select * from \"%1\" where %2").arg(path, condition);
    }
};

} // namespace

TEST(QueryParser, AcceptsTheStatementsTheSearchBuilds) {
    // Exactly as the dialog writes them: no blank around the quotes.
    QueryStatement st = parsed(QStringLiteral("select * from\"/data/Pw60bdb\""));
    EXPECT_EQ(st.table, "/data/Pw60bdb");
    EXPECT_FALSE(st.hasCondition);

    st = parsed(QStringLiteral("select * from\"/data/Pw60bdb\"where Unit=\"0C\""));
    EXPECT_EQ(st.table, "/data/Pw60bdb");
    EXPECT_TRUE(st.hasCondition);
    EXPECT_EQ(st.field, "Unit");
    EXPECT_EQ(st.text, "0C");
}

TEST(QueryParser, AcceptsKeywordsInAnyCaseQuotesOfEitherKindAndBlanks) {
    const QueryStatement want{QStringLiteral("a b.db"), true, QStringLiteral("Unit"),
                              QString::fromUtf8("MΩ")};
    for (const char* text : {
             "select * from \"a b.db\" where Unit=\"MΩ\"",
             "SELECT * FROM 'a b.db' WHERE Unit = 'MΩ'",
             "  Select\t*\nFrom \"a b.db\"   wHeRe   Unit   =\"MΩ\" ;  ",
             "select*from\"a b.db\"where Unit='MΩ';",
         }) {
        EXPECT_EQ(parsed(QString::fromUtf8(text)), want) << text;
    }
    // A quote doubled inside a text stands for itself; the other quote needs no doubling.
    EXPECT_EQ(
        parsed(QStringLiteral("select * from 'it''s.db' where Value=\"say \"\"hi\"\"\"")).text,
        "say \"hi\"");
    EXPECT_EQ(parsed(QStringLiteral("select * from 'it''s.db'")).table, "it's.db");
    EXPECT_EQ(parsed(QStringLiteral("select * from \"x\" where Unit=''")).text, "");
}

TEST(QueryParser, RefusesWhatIsOutsideTheSubsetNamingIt) {
    struct Case {
        const char* text;
        const char* named;
    };
    const Case cases[] = {
        {"update \"t\" set Unit=\"V\"", "The statement 'update' is not supported"},
        {"delete from \"t\"", "The statement 'delete' is not supported"},
        {"select No, Unit from \"t\"", "A column list ('No') is not supported"},
        {"select count(*) from \"t\"", "A column list ('count') is not supported"},
        {"select * into \"u\" from \"t\"", "'into' after 'select *' is not supported"},
        {"select * from Pw60bdb", "An unquoted table name ('Pw60bdb') is not supported"},
        {"select * from \"t\" order by No", "'order' after the table's path is not supported"},
        {"select * from \"t\", \"u\"", "',' after the table's path is not supported"},
        {"select * from \"t\" where Unit<>\"V\"", "The comparison '<>' is not supported"},
        {"select * from \"t\" where Unit like \"V%\"", "The comparison 'like' is not supported"},
        {"select * from \"t\" where Unit>=\"V\"", "The comparison '>=' is not supported"},
        {"select * from \"t\" where Unit=\"V\" and Value=\"1\"",
         "A second condition ('and') is not supported"},
        {"select * from \"t\" where Unit=\"V\" OR Unit=\"A\"",
         "A second condition ('or') is not supported"},
        {"select * from \"t\" where not Unit=\"V\"", "'not' after 'where' is not supported"},
        {"select * from \"t\" where No=5", "An unquoted value ('5') is not supported"},
        {"select * from \"t\"; delete from \"t\"", "A second statement after ';' is not supported"},
        {"select * from \"t\" where Unit=\"V\" order by No",
         "'order' after the condition is not supported"},
    };
    for (const Case& c : cases) {
        const QString message = refusal(QString::fromLatin1(c.text));
        EXPECT_TRUE(message.startsWith(QLatin1String(c.named))) << message.toStdString();
        if (!message.startsWith(QLatin1String("An unquoted"))) {
            EXPECT_TRUE(message.contains("only select * from \"TABLE\" [where FIELD = \"TEXT\"]"))
                << message.toStdString();
        }
    }
}

TEST(QueryParser, RefusesIncompleteStatementsSayingWhatIsMissing) {
    EXPECT_EQ(refusal(""), "The statement is empty.");
    EXPECT_EQ(refusal(" \t\n"), "The statement is empty.");
    EXPECT_EQ(refusal("select"), "'*' is missing after 'select'.");
    EXPECT_EQ(refusal("select *"), "'from' is missing after 'select *'.");
    EXPECT_EQ(refusal("select * from"), "The table's path is missing after 'from'.");
    EXPECT_EQ(refusal("select * from \"\""), "The table's path is empty.");
    EXPECT_EQ(refusal("select * from \"t\" where"), "The field name is missing after 'where'.");
    EXPECT_EQ(refusal("select * from \"t\" where Unit"), "'=' is missing after 'Unit'.");
    EXPECT_EQ(refusal("select * from \"t\" where Unit \"V\""), "'=' is missing after 'Unit'.");
    EXPECT_EQ(refusal("select * from \"t\" where Unit="),
              "The text to compare with is missing after '='.");
    EXPECT_EQ(refusal("select * from \"t"),
              "The text in quotes starting at character 15 has no closing quote.");
    EXPECT_EQ(refusal("select * from \"t\" where Unit='V"),
              "The text in quotes starting at character 30 has no closing quote.");
}

TEST_F(QueryFile, ListsEveryCommittedRecordInFileOrder) {
    EXPECT_EQ(rows(QStringLiteral("select * from \"%1\"").arg(path)),
              (std::vector<int>{1, 2, 3, 4, 5, 6, 7}));
    Result<TableQuery> q =
        TableQuery::prepare(parsed(QStringLiteral("select * from '%1'").arg(path)));
    ASSERT_TRUE(q.ok());
    ASSERT_EQ(q.value().fields().size(), 6u) << "the file's own fields";
    EXPECT_EQ(q.value().fields()[3].name, "Unit");
    EXPECT_EQ(q.value().count().value(), 7);
}

TEST_F(QueryFile, FiltersOnOneFieldsExactText) {
    EXPECT_EQ(rows(where("Unit=\"V\"")), (std::vector<int>{2, 4}));
    EXPECT_EQ(rows(where("Unit=\"0C\"")), (std::vector<int>{7}));
    EXPECT_EQ(rows(where("Unit=\"KW\"")), (std::vector<int>{}));
    // Texts are compared whole and with their case; field names match in any case.
    EXPECT_EQ(rows(where("Unit=\"v\"")), (std::vector<int>{}));
    EXPECT_EQ(rows(where("Unit=\"V \"")), (std::vector<int>{}));
    EXPECT_EQ(rows(where("unit=\"V\"")), (std::vector<int>{2, 4}));
    EXPECT_EQ(rows(where("Value=\"12.5\"")), (std::vector<int>{3}));
    EXPECT_EQ(rows(where("Value=\"12\"")), (std::vector<int>{})) << "no prefix match";
    // The empty text finds the blank fields.
    EXPECT_EQ(rows(where("Unit=\"\"")), (std::vector<int>{6}));
}

TEST_F(QueryFile, TypedTextsCompareAsCodePage936) {
    // Typed as Unicode, stored as A6 B8: the ohm sign must match byte for byte.
    EXPECT_EQ(rows(where(QString::fromUtf8("Unit=\"MΩ\""))), (std::vector<int>{3}));
    EXPECT_EQ(rows(where(QString::fromUtf8("Unit='GΩ'"))), (std::vector<int>{1}));
    // A character the code page cannot hold is in no record; its replacement character must
    // not find anything either.
    EXPECT_EQ(rows(where(QString::fromUtf8("Unit=\"😀\""))), (std::vector<int>{}));
    // A text wider than the field cannot be stored in it.
    EXPECT_EQ(rows(where("Unit=\"VVVVVVVVVVVV\"")), (std::vector<int>{}));
}

TEST_F(QueryFile, OtherFieldKindsCompareAsTheirValues) {
    EXPECT_EQ(rows(where("No=\"3\"")), (std::vector<int>{3}));
    EXPECT_EQ(rows(where("No=' 5 '")), (std::vector<int>{5}));
    EXPECT_EQ(rows(where("Time=\"10:00:04\"")), (std::vector<int>{4}));
    EXPECT_EQ(rows(where("No=\"\"")), (std::vector<int>{})) << "no record lacks a number";
    const Result<std::vector<int>> bad = run(where("No=\"three\""));
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), "'three' is not a valid integer value (field 'No')");
}

TEST_F(QueryFile, BadTablesAndFieldsAreReportedNotCrashedOn) {
    Result<std::vector<int>> r = run(where("Colour=\"red\""));
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error(), QStringLiteral("The table %1 has no field 'Colour'").arg(path));

    r = run(QStringLiteral("select * from \"%1\"").arg(dir.filePath("missing.DB")));
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().startsWith("Cannot open table file")) << r.error().toStdString();

    r = run(QStringLiteral("select * from \"%1\"").arg(dir.path()));
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains("it is not a file")) << r.error().toStdString();

    // A pipe would block the read for ever.
    const QString fifo = dir.filePath("pipe.DB");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    r = run(QStringLiteral("select * from \"%1\"").arg(fifo));
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains("it is not a file")) << r.error().toStdString();

    const QString junk = dir.filePath("junk.DB");
    QFile f(junk);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(3000, '\x5A'));
    f.close();
    r = run(QStringLiteral("select * from \"%1\"").arg(junk));
    ASSERT_FALSE(r.ok());
    EXPECT_TRUE(r.error().contains("damaged") || r.error().contains("not a table"))
        << r.error().toStdString();
}

TEST_F(QueryFile, ABareTableNameFindsItsTableFile) {
    const QString bare = dir.filePath("Readings");
    EXPECT_EQ(queryTablePath(bare), path);
    EXPECT_EQ(rows(QStringLiteral("select * from \"%1\" where Unit='A'").arg(bare)),
              (std::vector<int>{5}));
    // A path that names a file, or has an extension, is taken as it stands.
    EXPECT_EQ(queryTablePath(path), path);
    EXPECT_EQ(queryTablePath(dir.filePath("other.txt")), dir.filePath("other.txt"));
    EXPECT_EQ(queryTablePath(dir.filePath("nothing")), dir.filePath("nothing"));
}

TEST_F(QueryFile, StopsWhenTheVisitorSaysSo) {
    Result<TableQuery> q =
        TableQuery::prepare(parsed(QStringLiteral("select * from \"%1\"").arg(path)));
    ASSERT_TRUE(q.ok());
    int seen = 0;
    EXPECT_TRUE(q.value().forEachRow([&](const px::Record&) { return ++seen < 2; }).ok());
    EXPECT_EQ(seen, 2);
}
