// An asset's minimums and the trend of its tests: pure figures, no database.
#include "assets/asset_register.h"

#include <algorithm>
#include <cmath>

namespace kx {

namespace {

struct KindName {
    AssetKind kind;
    const char* text;
};
constexpr KindName kKindNames[] = {
    {AssetKind::OldWinding, "old-winding"},
    {AssetKind::FormWound, "form-wound"},
    {AssetKind::RandomWound, "random-wound"},
    {AssetKind::Cable, "cable"},
    {AssetKind::Other, "other"},
};

constexpr double kMegaohm = 1e6;
constexpr double kMsPerYear = 365.2425 * 24 * 3600 * 1000;
// A fit that falls so slowly it would cross later than this is said not to cross.
constexpr double kFarestCrossingYears = 200;

} // namespace

QString assetKindText(AssetKind kind) {
    for (const KindName& k : kKindNames) {
        if (k.kind == kind)
            return QString::fromLatin1(k.text);
    }
    return QStringLiteral("other");
}

std::optional<AssetKind> assetKindFromText(const QString& text) {
    const QString t = text.trimmed().toLower();
    for (const KindName& k : kKindNames) {
        if (t == QLatin1String(k.text))
            return k.kind;
    }
    return std::nullopt;
}

double defaultMinimumOhms(AssetKind kind, std::optional<double> ratedVoltage) {
    switch (kind) {
    case AssetKind::OldWinding:
        // (kV + 1) MΩ, the rated voltage between phases.
        return (std::max(0.0, ratedVoltage.value_or(0)) / 1000 + 1) * kMegaohm;
    case AssetKind::FormWound:
        // A form-wound winding rated below 1 kV is held to the random-wound minimum.
        if (ratedVoltage && *ratedVoltage < 1000)
            return 5 * kMegaohm;
        return 100 * kMegaohm;
    case AssetKind::RandomWound:
        return 5 * kMegaohm;
    case AssetKind::Cable:
    case AssetKind::Other:
        break;
    }
    return 100 * kMegaohm;
}

double defaultPiMinimum(const QString& thermalClass) {
    return thermalClass.trimmed().compare(QLatin1String("A"), Qt::CaseInsensitive) == 0 ? 1.5 : 2.0;
}

double minimumOhmsOf(const Asset& asset) {
    return asset.minimumOhms.value_or(defaultMinimumOhms(asset.kind, asset.ratedVoltage));
}

double piMinimumOf(const Asset& asset) {
    return asset.piMinimum.value_or(defaultPiMinimum(asset.thermalClass));
}

ResultSettings assetSettings(const Asset& asset, std::optional<double> temperature) {
    ResultSettings s;
    s.temperature = temperature;
    s.baseTemperature = 40;
    s.minimumOhms = minimumOhmsOf(asset);
    s.piMinimum = piMinimumOf(asset);
    return s;
}

// The fit is of ln R over the time in years since the first fitted test; a crossing already
// behind the last test is given as the date the fitted line crossed (not before the first
// fitted test), so that an asset already below its minimum sorts first among the crossings.
// A last test below the minimum dates the crossing by the tests themselves.
Trend computeTrend(std::vector<TrendPoint> points, double minimumOhms, double piMinimum,
                   const TrendSettings& settings) {
    std::stable_sort(points.begin(), points.end(), [](const TrendPoint& a, const TrendPoint& b) {
        return a.testedAt < b.testedAt;
    });
    Trend t;
    t.minimumOhms = minimumOhms;
    t.piMinimum = piMinimum;

    std::vector<std::size_t> measured; // the points with a usable corrected R60
    std::optional<double> previous;
    for (std::size_t i = 0; i < points.size(); ++i) {
        TrendPoint& p = points[i];
        p.sharpDrop = false;
        const std::optional<double> r = p.r60Corrected40;
        if (!r || !std::isfinite(*r) || *r <= 0)
            continue;
        if (previous && *r < settings.sharpDropRatio * *previous)
            p.sharpDrop = true;
        previous = r;
        measured.push_back(i);
    }

    const std::size_t wanted = std::size_t(std::max(settings.fitTests, 0));
    const std::size_t from = measured.size() > wanted ? measured.size() - wanted : 0;
    const std::size_t n = measured.size() - from;
    if (n >= std::size_t(std::max(settings.minimumPoints, 2))) {
        const qint64 t0 = points[measured[from]].testedAt.toMSecsSinceEpoch();
        double sx = 0, sy = 0;
        std::vector<double> xs, ys;
        for (std::size_t k = from; k < measured.size(); ++k) {
            const TrendPoint& p = points[measured[k]];
            xs.push_back(double(p.testedAt.toMSecsSinceEpoch() - t0) / kMsPerYear);
            ys.push_back(std::log(*p.r60Corrected40));
            sx += xs.back();
            sy += ys.back();
        }
        const double mx = sx / double(n), my = sy / double(n);
        double sxx = 0, sxy = 0;
        for (std::size_t k = 0; k < n; ++k) {
            sxx += (xs[k] - mx) * (xs[k] - mx);
            sxy += (xs[k] - mx) * (ys[k] - my);
        }
        if (sxx > 1e-12) {
            const double b = sxy / sxx;
            const double a = my - b * mx;
            t.slopePerYear = (std::exp(b) - 1) * 100;
            if (b < 0 && minimumOhms > 0) {
                double years = (std::log(minimumOhms) - a) / b;
                years = std::max(years, 0.0);
                if (years <= kFarestCrossingYears) {
                    const QDateTime at =
                        QDateTime::fromMSecsSinceEpoch(t0 + qint64(years * kMsPerYear));
                    t.crossing = at.date();
                }
            }
        }
    }
    // A last test below the minimum has crossed it, whatever the fit of the tests before
    // says: the crossing is the first test of the run below it that ends with the last.
    if (!measured.empty() && *points[measured.back()].r60Corrected40 < minimumOhms) {
        std::size_t k = measured.size() - 1;
        while (k > 0 && *points[measured[k - 1]].r60Corrected40 < minimumOhms)
            --k;
        t.crossing = points[measured[k]].testedAt.date();
    }
    t.points = std::move(points);
    return t;
}

} // namespace kx
