// Table-file throughput: our writer and reader against pxlib on the readings layout, and our
// code alone on ten million records. Prints seconds and ratios.
#include "paradox/paradox_reader.h"
#include "paradox/paradox_writer.h"
#include "readings/readings_schema.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

extern "C" {
#include <paradox.h>
}

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace kx;
using namespace kx::px;

namespace {

double seconds(const std::chrono::steady_clock::time_point& t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

const QByteArray kValues[] = {"1.234", "-0.05", "19.99", "1000"};
const QByteArray kUnit = "M\xA6\xB8";
const QByteArray kFunction = "IR:5000V 1000G\xA6\xB8";
const QByteArray kMode = "Continuous";

double writeOurs(const QString& path, int n) {
    const auto t0 = std::chrono::steady_clock::now();
    auto w = TableWriter::create(path, readingsFields());
    if (!w) {
        std::fprintf(stderr, "%s\n", qPrintable(w.error()));
        std::exit(1);
    }
    Record rec(6);
    for (int i = 1; i <= n; ++i) {
        rec[0] = Value(std::int32_t(i));
        rec[1] = Value::timeOfDay((i * 997) % 86400000);
        rec[2] = Value(kValues[i % 4]);
        rec[3] = Value(kUnit);
        rec[4] = Value(kFunction);
        rec[5] = Value(kMode);
        if (Status s = w.value()->append(rec); !s) {
            std::fprintf(stderr, "%s\n", qPrintable(s.error()));
            std::exit(1);
        }
    }
    if (Status s = w.value()->close(); !s) {
        std::fprintf(stderr, "%s\n", qPrintable(s.error()));
        std::exit(1);
    }
    return seconds(t0);
}

double readOurs(const QString& path, long long* checksum) {
    const auto t0 = std::chrono::steady_clock::now();
    auto r = TableReader::open(path);
    if (!r) {
        std::fprintf(stderr, "%s\n", qPrintable(r.error()));
        std::exit(1);
    }
    long long sum = 0;
    (void)r.value().forEach([&](const Record& rec) {
        sum += rec[0].toInt() + rec[4].rawBytes().size();
        return true;
    });
    *checksum = sum;
    return seconds(t0);
}

void quiet(pxdoc_t*, int, const char*, void*) {}

double writePxlib(const QString& path, int n) {
    const auto t0 = std::chrono::steady_clock::now();
    pxdoc_t* doc = PX_new3(quiet, nullptr, nullptr, nullptr, nullptr);
    const std::vector<FieldDef> defs = readingsFields();
    auto* pf = static_cast<pxfield_t*>(std::calloc(defs.size(), sizeof(pxfield_t)));
    int size = 0;
    for (std::size_t i = 0; i < defs.size(); ++i) {
        pf[i].px_fname = strdup(defs[i].name.constData());
        pf[i].px_ftype = static_cast<char>(defs[i].type);
        pf[i].px_flen = defs[i].size;
        size += defs[i].size;
    }
    PX_create_file(doc, pf, static_cast<int>(defs.size()), QFile::encodeName(path).constData(),
                   pxfFileTypNonIndexDB);
    std::vector<char> data(static_cast<std::size_t>(size));
    for (int i = 1; i <= n; ++i) {
        std::fill(data.begin(), data.end(), 0);
        char* p = data.data();
        PX_put_data_long(doc, p, 4, i);
        PX_put_data_long(doc, p + 4, 4, (i * 997) % 86400000);
        PX_put_data_alpha(doc, p + 8, 16, const_cast<char*>(kValues[i % 4].constData()));
        PX_put_data_alpha(doc, p + 24, 8, const_cast<char*>(kUnit.constData()));
        PX_put_data_alpha(doc, p + 32, 24, const_cast<char*>(kFunction.constData()));
        PX_put_data_alpha(doc, p + 56, 16, const_cast<char*>(kMode.constData()));
        PX_put_record(doc, data.data());
    }
    PX_close(doc);
    PX_delete(doc);
    return seconds(t0);
}

double readPxlib(const QString& path, long long* checksum) {
    const auto t0 = std::chrono::steady_clock::now();
    pxdoc_t* doc = PX_new3(quiet, nullptr, nullptr, nullptr, nullptr);
    if (PX_open_file(doc, QFile::encodeName(path).constData()) < 0) {
        std::fprintf(stderr, "pxlib cannot open %s\n", qPrintable(path));
        std::exit(1);
    }
    std::vector<char> data(static_cast<std::size_t>(PX_get_recordsize(doc)));
    const int n = PX_get_num_records(doc);
    long long sum = 0;
    for (int i = 0; i < n; ++i) {
        if (!PX_get_record(doc, i, data.data()))
            break;
        long v = 0;
        PX_get_data_long(doc, data.data(), 4, &v);
        char* text = nullptr;
        if (PX_get_data_alpha(doc, data.data() + 32, 24, &text) > 0 && text) {
            sum += static_cast<long long>(std::strlen(text));
            std::free(text);
        }
        sum += v;
    }
    PX_close(doc);
    PX_delete(doc);
    *checksum = sum;
    return seconds(t0);
}

void line(const char* what, double s, double per = 0) {
    if (per > 0)
        std::printf("%-44s %8.3f s   (%.1fx ours)\n", what, s, s / per);
    else
        std::printf("%-44s %8.3f s\n", what, s);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    // "--quick" runs the ten-million pass only with our code and skips pxlib's long write.
    const bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    QTemporaryDir dir(QDir::tempPath() + "/bench_paradox_XXXXXX");
    const QString ours = dir.filePath("ours.db");
    const QString theirs = dir.filePath("pxlib.db");
    const int million = 1000000;
    long long c1 = 0, c2 = 0, c3 = 0, c4 = 0;

    std::printf("1,000,000 readings records\n");
    const double wOurs = writeOurs(ours, million);
    line("write, ours", wOurs);
    if (!quick) {
        const double wPx = writePxlib(theirs, million);
        line("write, pxlib", wPx, wOurs);
    }
    const double rOurs = readOurs(ours, &c1);
    line("read our file, ours", rOurs);
    if (!quick) {
        line("read our file, pxlib", readPxlib(ours, &c2), rOurs);
        line("read pxlib's file, ours", readOurs(theirs, &c3));
        line("read pxlib's file, pxlib", readPxlib(theirs, &c4), rOurs);
        std::printf("checksums %s\n", (c1 == c2 && c2 == c3 && c3 == c4) ? "agree" : "DIFFER");
    }

    std::printf("10,000,000 readings records\n");
    QFile::remove(theirs);
    line("write, ours", writeOurs(ours, 10 * million));
    line("read, ours", readOurs(ours, &c1));
    return 0;
}
