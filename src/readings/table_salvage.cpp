#include "readings/table_salvage.h"

#include "paradox/paradox_reader.h"
#include "readings/details_companion.h"
#include "readings/readings_schema.h"

#include <QDir>
#include <QFileInfo>

namespace kx {

namespace {

std::vector<std::vector<px::FieldDef>> knownLayouts() {
    return {readingsFields(false), readingsFields(true)};
}

QString plural(std::int64_t n, const char* one, const char* many) {
    return n == 1 ? QStringLiteral("1 %1").arg(QLatin1String(one))
                  : QStringLiteral("%1 %2").arg(n).arg(QLatin1String(many));
}

constexpr int kShownStretches = 8;

} // namespace

Result<px::SalvageReport> salvageTableFile(const QString& path, bool replace) {
    // The salvaged readings are the damaged table's recording: they take its test details
    // along, and an earlier salvaged table's details go with that table.
    Result<QByteArray> bytes = testDetailsBytes(path);
    Result<DetailsCompanion> details =
        DetailsCompanion::prepare(px::salvagedPathFor(path), bytes ? bytes.value() : QByteArray());
    if (!details)
        return fail(details.error());
    px::WriteOptions with;
    details.value().addTo(with);
    return px::salvageTable(path, replace, knownLayouts(), std::move(with));
}

QString salvageQuestion(const QString& path, const QString& failure) {
    if (px::TableReader::open(path))
        return {};
    const Result<px::SalvagedRecords> read = px::readDamagedTable(path, knownLayouts());
    if (!read)
        return {};
    const QString target = px::salvagedPathFor(path);
    QString text = failure + QStringLiteral("\n\nSalvage the %1 that can still be read into a new "
                                            "table, %2? The damaged file stays as it is.")
                                 .arg(plural(read.value().count(), "record", "records"),
                                      QDir::toNativeSeparators(target));
    if (QFileInfo::exists(target))
        text += QStringLiteral("\nThe salvaged table of an earlier salvage is replaced.");
    return text;
}

QString salvageReportText(const px::SalvageReport& report) {
    QString text =
        QStringLiteral("%1 of %2 were salvaged into %3.")
            .arg(plural(report.kept, "record", "records"), QDir::toNativeSeparators(report.source),
                 QDir::toNativeSeparators(report.target));
    if (report.leftOut == 0)
        return text + QStringLiteral(" No record was left out.");
    text +=
        QStringLiteral("\n%1 left out:").arg(plural(report.leftOut, "record was", "records were"));
    int shown = 0;
    for (const px::SalvageLoss& l : report.lost) {
        if (shown++ == kShownStretches) {
            text += QStringLiteral("\n... and %1 more.")
                        .arg(plural(static_cast<std::int64_t>(report.lost.size()) - kShownStretches,
                                    "stretch", "stretches"));
            break;
        }
        text += l.first == l.last
                    ? QStringLiteral("\nrecord %1: %2").arg(l.first).arg(l.why)
                    : QStringLiteral("\nrecords %1 to %2: %3").arg(l.first).arg(l.last).arg(l.why);
    }
    return text;
}

} // namespace kx
