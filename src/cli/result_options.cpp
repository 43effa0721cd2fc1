#include "cli/result_options.h"

#include "analysis/details_file.h"

#include <QLocale>

#include <cmath>

namespace kx::cli {
namespace {

const QString kTemperature = QStringLiteral("temperature");
const QString kBase = QStringLiteral("base");
const QString kMinimum = QStringLiteral("minimum");
const QString kPiMinimum = QStringLiteral("pi-minimum");

} // namespace

std::optional<double> decimalOption(const CommandLine& line, const QString& name, double min,
                                    double max, bool above, const QString& range,
                                    std::optional<int>& bad) {
    if (!line.isSet(name) || bad)
        return std::nullopt;
    const QString text = line.value(name);
    bool ok = false;
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::RejectGroupSeparator);
    const double x = c.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(x) || x > max || (above ? x <= min : x < min)) {
        bad = line.usageError(
            QStringLiteral("--%1 needs a number %2, not '%3'").arg(name, range, text));
        return std::nullopt;
    }
    return x;
}

void addResultOptions(CommandLine& line) {
    line.option(kTemperature, QStringLiteral("C"),
                QStringLiteral("The winding temperature in \u00B0C (-50 to 200): the 1-minute "
                               "resistance is corrected from it to the base temperature."));
    line.option(kBase, QStringLiteral("40|20"),
                QStringLiteral("The base temperature: 40 \u00B0C for machines (the default) or "
                               "20 \u00B0C for cables."));
    line.option(kMinimum, QStringLiteral("MOHM"),
                QStringLiteral("The lowest passing 1-minute resistance in M\u03A9 (100 by "
                               "default)."));
    line.option(kPiMinimum, QStringLiteral("X"),
                QStringLiteral("The lowest passing polarization index (2.0 by default)."));
}

bool resultOptionsGiven(const CommandLine& line) {
    return line.isSet(kTemperature) || line.isSet(kBase) || line.isSet(kMinimum) ||
           line.isSet(kPiMinimum);
}

std::optional<int> readResultOptions(const CommandLine& line, ResultOverrides& o) {
    std::optional<int> bad;
    o.temperature =
        decimalOption(line, kTemperature, kMinWindingTemperature, kMaxWindingTemperature, false,
                      QStringLiteral("from -50 to 200"), bad);
    if (line.isSet(kBase) && !bad) {
        const QString base = line.value(kBase).trimmed();
        if (base == QLatin1String("40") || base == QLatin1String("20"))
            o.baseTemperature = base.toDouble();
        else
            bad = line.usageError(
                QStringLiteral("--base is 40 or 20, not '%1'").arg(line.value(kBase)));
    }
    if (const auto m = decimalOption(line, kMinimum, 0, kMaxMinimumOhms / 1e6, true,
                                     QStringLiteral("above 0 and at most 10000000"), bad))
        o.minimumOhms = *m * 1e6;
    o.piMinimum = decimalOption(line, kPiMinimum, 0, kMaxPiMinimum, true,
                                QStringLiteral("above 0 and at most 100"), bad);
    return bad;
}

} // namespace kx::cli
