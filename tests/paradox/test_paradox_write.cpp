#include "paradox_test_support.h"
#include "px_oracle.h"

#include "paradox/paradox_lock.h"
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"

#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

using namespace kx;
using namespace kx::px;
using namespace pxtest;

namespace {

using ParadoxWrite = InTempDir;
using ParadoxLock = InTempDir;

const std::vector<FieldDef> kAllTypes = {
    {"Name", FieldType::Alpha, 10},     {"Small", FieldType::Short, 2},
    {"Big", FieldType::Long, 4},        {"Price", FieldType::Currency, 8},
    {"Real", FieldType::Number, 8},     {"Flag", FieldType::Logical, 1},
    {"Day", FieldType::Date, 4},        {"At", FieldType::Time, 4},
    {"Stamp", FieldType::Timestamp, 8}, {"Serial", FieldType::AutoInc, 4},
    {"Amount", FieldType::Bcd, 2},      {"Raw", FieldType::Bytes, 6},
};

std::vector<Record> sampleRows() {
    std::vector<Record> rows;
    rows.push_back({Value("first"), Value(std::int32_t{-32767}), Value(std::int32_t{-2147483647}),
                    Value(12.5), Value(-1e300), Value(true), Value::date(QDate(2026, 12, 9)),
                    Value::timeOfDay(23 * 3600000 + 59 * 60000 + 59000 + 999),
                    Value::timestamp(QDate(1999, 12, 31), 1234), Value(std::int32_t{7}),
                    Value::decimal("-123.45"), Value::bytes(QByteArray("\x01\x00\xff", 3))});
    rows.push_back({Value("0123456789"), Value(std::int32_t{32767}),
                    Value(std::int32_t{2147483647}), Value(0.0), Value(-0.5), Value(false),
                    Value::date(QDate(1, 1, 1)), Value::timeOfDay(0),
                    Value::timestamp(QDate(2020, 2, 1), 3601000), Value(), Value::decimal("0.10"),
                    Value::bytes(QByteArray("\x7f", 1))});
    rows.push_back(Record(kAllTypes.size())); // every field NULL
    return rows;
}

} // namespace

TEST_F(ParadoxWrite, RoundTripEveryType) {
    const QString path = dir.filePath("all.db");
    const auto rows = sampleRows();
    ASSERT_TRUE(writeTable(path, kAllTypes, rows, blocks(2048)).ok());

    Result<TableReader> r = TableReader::open(path);
    ASSERT_TRUE(succeeds(r));
    EXPECT_EQ(r.value().info().fields, kAllTypes);
    EXPECT_EQ(r.value().info().codePage, 936);
    EXPECT_EQ(r.value().info().blockSize, 2048);
    EXPECT_EQ(r.value().info().version, 7);
    Result<std::vector<Record>> back = r.value().readAll();
    ASSERT_TRUE(back.ok());
    ASSERT_EQ(back.value().size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        for (std::size_t f = 0; f < kAllTypes.size(); ++f) {
            if (kAllTypes[f].type == FieldType::AutoInc || kAllTypes[f].type == FieldType::Bytes)
                continue;
            EXPECT_EQ(back.value()[i][f], rows[i][f]) << "row " << i << " field " << f;
        }
    }
    const Record& a = back.value()[0];
    EXPECT_EQ(a[7].toText(), "23:59:59");
    EXPECT_EQ(a[7].msecs(), 86399999);
    EXPECT_EQ(a[8].toText(), "1999-12-31 00:00:01");
    EXPECT_EQ(a[3].toText(), "12.5");
    EXPECT_EQ(a[11].rawBytes(), QByteArray("\x01\x00\xff\x00\x00\x00", 6));
    EXPECT_EQ(a[11].toText(), "0100FF");
    // AutoInc: given values are kept, a NULL gets the next number.
    EXPECT_EQ(a[9].toInt(), 7);
    EXPECT_EQ(back.value()[1][9].toInt(), 8);
    const Record& nul = back.value()[2];
    for (std::size_t f = 0; f < kAllTypes.size(); ++f) {
        if (kAllTypes[f].type != FieldType::AutoInc) {
            EXPECT_TRUE(nul[f].isNull()) << f;
        }
    }
}

TEST_F(ParadoxWrite, ReadByPxlib) {
    const QString path = dir.filePath("ours.db");
    std::vector<FieldDef> fields(kAllTypes.begin(), kAllTypes.begin() + 9);
    std::vector<Record> rows;
    for (int i = 0; i < 3000; ++i) {
        rows.push_back(
            {Value(QByteArray("n") + QByteArray::number(i)), Value(std::int32_t(i - 1500)),
             Value(std::int32_t(i * 7919 - 1)), Value(i * 0.01), Value(-i / 3.0), Value(i % 3 == 0),
             Value::date(700000 + i), Value::timeOfDay(i * 1001), Value::timestamp(6.3e13 + i)});
    }
    rows.push_back(Record(fields.size()));
    ASSERT_TRUE(writeTable(path, fields, rows, blocks(4096)).ok());
    const pxoracle::Table ref = pxoracle::read(path);
    ASSERT_TRUE(ref.error.empty()) << ref.error;
    EXPECT_EQ(ref.fields, fields);
    ASSERT_EQ(ref.rows.size(), rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t f = 0; f < fields.size(); ++f)
            ASSERT_EQ(ref.rows[r][f], pxoracle::neutral(rows[r][f])) << r << "/" << f;
    }
}

TEST_F(ParadoxWrite, ReadingsTableIn32KBlocks) {
    const QString path = dir.filePath("Pw60bdb.DB");
    Result<std::unique_ptr<TableWriter>> w = TableWriter::create(path, readingsLikeFields());
    ASSERT_TRUE(w.ok());
    EXPECT_GE(w.value()->capacity(), 10'000'000);
    const QByteArray ohm("M\xA6\xB8");
    for (int i = 1; i <= 2000; ++i) {
        ASSERT_TRUE(
            w.value()
                ->append({Value(std::int32_t(i)), Value::timeOfDay(i * 1000), Value("1.234"),
                          Value(ohm), Value("IR:5000V 1000G\xA6\xB8"), Value("Continuous")})
                .ok());
    }
    ASSERT_TRUE(w.value()->close().ok());
    const pxoracle::Table ref = pxoracle::read(path);
    ASSERT_TRUE(ref.error.empty()) << ref.error;
    ASSERT_EQ(ref.rows.size(), 2000u);
    EXPECT_EQ(ref.rows[1999][0], "2000");
    EXPECT_EQ(ref.rows[5][4], "IR:5000V 1000G\xA6\xB8");
    Result<std::vector<Record>> back = readTable(path);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value()[0][3].toText(), ohm);
    EXPECT_EQ(back.value()[0][1].toText(), "00:00:01");
}

TEST_F(ParadoxWrite, TextIsCutAtCharacterBoundaries) {
    const QString path = dir.filePath("cut.db");
    const std::vector<FieldDef> fields = {{"T", FieldType::Alpha, 4}};
    // "a" + Ω + Ω: the second Ω would straddle the end, so only "aΩ" is kept.
    ASSERT_TRUE(
        writeTable(path, fields,
                   {{Value("a\xA6\xB8\xA6\xB8")}, {Value("\xA6\xB8\xA6\xB8x")}, {Value("abcdef")}})
            .ok());
    Result<std::vector<Record>> back = readTable(path);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(back.value()[0][0].toText(), "a\xA6\xB8");
    EXPECT_EQ(back.value()[1][0].toText(), "\xA6\xB8\xA6\xB8");
    EXPECT_EQ(back.value()[2][0].toText(), "abcd");
}

TEST_F(ParadoxWrite, ValuesConvertToFieldTypes) {
    const QString path = dir.filePath("conv.db");
    const std::vector<FieldDef> fields = {
        {"No", FieldType::Long, 4}, {"Time", FieldType::Time, 4}, {"Text", FieldType::Alpha, 12}};
    Result<std::unique_ptr<TableWriter>> w = TableWriter::create(path, fields);
    ASSERT_TRUE(w.ok());
    ASSERT_TRUE(w.value()->append({Value("42"), Value("12:34:56"), Value(std::int32_t{5})}).ok());
    Status bad = w.value()->append({Value("4x2"), Value(), Value()});
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error(), "'4x2' is not a valid Long value for field No");
    EXPECT_FALSE(w.value()->append({Value(), Value("25:00:00"), Value()}).ok());
    EXPECT_FALSE(w.value()->append({Value()}).ok());
    ASSERT_TRUE(w.value()->close().ok());
    Result<std::vector<Record>> back = readTable(path);
    ASSERT_TRUE(back.ok());
    ASSERT_EQ(back.value().size(), 1u);
    EXPECT_EQ(back.value()[0][0].toInt(), 42);
    EXPECT_EQ(back.value()[0][1].msecs(), (12 * 3600 + 34 * 60 + 56) * 1000);
    EXPECT_EQ(back.value()[0][2].toText(), "5");
}

TEST_F(ParadoxWrite, RefusesBadStructures) {
    const QString path = dir.filePath("x.db");
    auto create = [&](std::vector<FieldDef> f, int block = 32768) {
        return TableWriter::create(path, f, blocks(block)).ok();
    };
    EXPECT_FALSE(create({}));
    EXPECT_FALSE(create({{"A", FieldType::Alpha, 0}}));
    EXPECT_FALSE(create({{"A", FieldType::Alpha, 256}}));
    EXPECT_FALSE(create({{"A", FieldType::Long, 2}}));
    EXPECT_FALSE(create({{"A", FieldType::Memo, 20}}));
    EXPECT_FALSE(create({{"A", FieldType::Long, 4}, {"a", FieldType::Long, 4}}));
    EXPECT_FALSE(create({{"", FieldType::Long, 4}}));
    EXPECT_FALSE(create({{"A", FieldType::Alpha, 255},
                         {"B", FieldType::Alpha, 255},
                         {"C", FieldType::Alpha, 255},
                         {"D", FieldType::Alpha, 255},
                         {"E", FieldType::Alpha, 255}},
                        1024));
    EXPECT_FALSE(create({{"A", FieldType::Long, 4}}, 5000));
    EXPECT_TRUE(create({{"A", FieldType::Long, 0}}));
    EXPECT_TRUE(filesIn(dir.path()).isEmpty()) << "nothing is put in place before close";
}

TEST_F(ParadoxWrite, RefusesRecordsPastTheBlockLimit) {
    const QString path = dir.filePath("full.db");
    // One record per 1 KB block: the table is full after 65,535 records.
    Result<std::unique_ptr<TableWriter>> w = TableWriter::create(path,
                                                                 {{"A", FieldType::Alpha, 255},
                                                                  {"B", FieldType::Alpha, 255},
                                                                  {"C", FieldType::Alpha, 255},
                                                                  {"D", FieldType::Alpha, 200}},
                                                                 blocks(1024));
    ASSERT_TRUE(w.ok());
    ASSERT_EQ(w.value()->recordsPerBlock(), 1);
    const Record rec = {Value("a"), Value("b"), Value("c"), Value("d")};
    for (int i = 0; i < 65535; ++i)
        ASSERT_TRUE(w.value()->append(rec).ok()) << i;
    EXPECT_TRUE(failsWith(w.value()->append(rec), "is full"));
    ASSERT_TRUE(w.value()->close().ok());
    EXPECT_EQ(readTableInfo(path).value().recordCount, 65535);
}

TEST_F(ParadoxWrite, FailedWriteKeepsTheOldFile) {
    const QString path = dir.filePath("keep.db");
    ASSERT_TRUE(
        writeTable(path, readingsLikeFields(),
                   {{Value(std::int32_t{1}), Value(), Value("v"), Value(), Value(), Value()}})
            .ok());
    const QByteArray before = fileBytes(path);
    {
        Result<std::unique_ptr<TableWriter>> w = TableWriter::create(path, readingsLikeFields());
        ASSERT_TRUE(w.ok());
        ASSERT_TRUE(w.value()->append(Record(6)).ok());
        ASSERT_TRUE(w.value()->flush().ok());
        // Destroyed without close: the replacement is abandoned.
    }
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(filesIn(dir.path()), QStringList{"keep.db"});

    EXPECT_TRUE(
        failsWith(createTable(dir.filePath("missing/folder/t.db"), readingsLikeFields()), "t.db"));
}

TEST_F(ParadoxWrite, EmptyTableKeepsStructure) {
    KX_NEED_FIXTURES();
    const QString path = dir.filePath("e.db");
    std::vector<Record> rows(1000, Record{Value(std::int32_t{3}), Value::timeOfDay(5), Value("x"),
                                          Value("V"), Value("f"), Value("m")});
    ASSERT_TRUE(writeTable(path, readingsLikeFields(), rows).ok());
    ASSERT_TRUE(emptyTable(path).ok());
    Result<TableInfo> info = readTableInfo(path);
    ASSERT_TRUE(info.ok()) << info.error().toStdString();
    EXPECT_EQ(info.value().recordCount, 0);
    EXPECT_EQ(info.value().fields, readingsLikeFields());
    EXPECT_EQ(info.value().codePage, 936);
    EXPECT_EQ(QFileInfo(path).size(), info.value().headerSize);
    EXPECT_TRUE(pxoracle::read(path).error.empty());
    // Emptying an engine-made table works the same way.
    const QString copy = dir.filePath("time.db");
    ASSERT_TRUE(QFile::copy(fixture("time.db"), copy));
    ASSERT_TRUE(emptyTable(copy).ok());
    EXPECT_EQ(readTableInfo(copy).value().recordCount, 0);
    EXPECT_FALSE(emptyTable(dir.filePath("nothing.db")).ok());
}

TEST_F(ParadoxLock, SecondOpenFromAnotherProcessFails) {
    const QString path = dir.filePath("locked.db");
    ASSERT_TRUE(createTable(path, readingsLikeFields()).ok());
    {
        Result<std::unique_ptr<TableLock>> lock = TableLock::acquire(path);
        ASSERT_TRUE(lock.ok()) << lock.error().toStdString();
        Result<std::unique_ptr<TableLock>> again = TableLock::acquire(path);
        ASSERT_FALSE(again.ok());
        EXPECT_EQ(again.error(), QStringLiteral("Table file %1 is in use by another program")
                                     .arg(QDir::toNativeSeparators(path)));

        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Result<std::unique_ptr<TableLock>> other = TableLock::acquire(path);
            _exit(other.ok() ? 1 : (other.error().contains("in use") ? 0 : 2));
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    // The holder of the lock can still replace the file (emptying works this way).
    {
        Result<std::unique_ptr<TableLock>> lock = TableLock::acquire(path);
        ASSERT_TRUE(lock.ok());
        bool inUse = false;
        EXPECT_FALSE(TableLock::acquire(path, &inUse).ok());
        EXPECT_TRUE(inUse);
        EXPECT_TRUE(emptyTable(path).ok());
    }
    // Released with the lock object.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(TableLock::acquire(path).ok() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_FALSE(TableLock::acquire(dir.filePath("none.db")).ok());
}
