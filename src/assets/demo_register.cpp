#include "assets/demo_register.h"

#include <QCryptographicHash>
#include <QDir>
#include <QStandardPaths>
#include <QTime>

#include <array>
#include <cmath>
#include <cstdint>

namespace kx {
namespace {

struct DemoAsset {
    const char* tag;
    const char* name;
    AssetKind kind;
    const char* location;
    double ratedVoltage;
    const char* thermalClass;
    int years;           // yearly tests
    double firstR60;     // corrected to 40 °C, MΩ, at the first test
    double perYear;      // change a year: 0.97 is 3 % down
    double pi;           // around this
    int sharpDropAtLast; // 0, or the last test falls to this share in percent
};

constexpr std::array kAssets{
    DemoAsset{"M-101", "Cooling water pump motor", AssetKind::FormWound, "Pump house A", 6600, "F",
              8, 4200, 0.97, 3.4, 0},
    DemoAsset{"M-102", "Boiler feed pump motor", AssetKind::FormWound, "Boiler hall", 3300, "F", 7,
              2600, 1.0, 2.9, 0},
    DemoAsset{"M-205", "Conveyor drive motor", AssetKind::RandomWound, "Line 2, conveyor", 400, "F",
              6, 120, 0.6, 2.3, 0},
    DemoAsset{"G-001", "Emergency generator stator", AssetKind::OldWinding, "Generator room", 400,
              "B", 5, 900, 0.95, 2.6, 0},
    DemoAsset{"C-310", "Feeder cable to substation 3", AssetKind::Cable, "Cable tunnel east", 11000,
              "", 8, 12000, 0.98, 2.1, 0},
    DemoAsset{"M-330", "Air compressor motor", AssetKind::RandomWound, "Compressor station", 690,
              "F", 5, 820, 0.98, 2.5, 30},
    DemoAsset{"F-012", "Exciter field winding", AssetKind::OldWinding, "Generator room", 220, "A",
              4, 350, 0.96, 1.9, 0},
    DemoAsset{"C-120", "Crane trailing cable", AssetKind::Cable, "Yard crane 1", 690, "", 3, 640,
              0.9, 1.8, 0},
    DemoAsset{"M-401", "Extract fan motor", AssetKind::RandomWound, "Paint shop roof", 400, "B", 5,
              380, 0.99, 2.2, 0},
    DemoAsset{"T-002", "Auxiliary transformer winding", AssetKind::Other, "Substation 3", 11000,
              "H", 6, 7800, 0.96, 3.1, 0},
};

// A small deterministic sequence: the same register on every machine.
class Sequence {
public:
    explicit Sequence(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    // From -1 to 1.
    double next() {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / static_cast<double>(1u << 23) - 1.0;
    }

private:
    std::uint32_t state_;
};

FiledTest demoTest(const DemoAsset& a, int year, QDate day, Sequence& seq) {
    const bool last = year == a.years - 1;
    double corrected = a.firstR60 * std::pow(a.perYear, year) * (1 + 0.06 * seq.next());
    if (last && a.sharpDropAtLast > 0)
        corrected *= a.sharpDropAtLast / 100.0;
    const double temperature = std::round(10 * (28 + 12 * seq.next())) / 10;
    // Resistance halves for every 10 °C the winding is warmer.
    const double r60 = corrected * 1e6 / std::pow(2.0, (temperature - 40) / 10);
    const double pi =
        std::max(1.1, a.pi * (1 + 0.08 * seq.next()) * (last && a.sharpDropAtLast ? 0.6 : 1.0));
    // R(t) = R60 (t / 60)^k, with k such that R600 / R60 is the PI.
    const double k = std::log10(pi);
    const auto at = [&](double seconds) { return r60 * std::pow(seconds / 60, k); };

    FiledTest t;
    t.testedAt = QDateTime(day, QTime(9 + year % 5, 10 + 7 * year % 40));
    InsulationResult& r = t.result;
    r.test = 1;
    const int voltage = a.ratedVoltage >= 3000 ? 5000 : a.ratedVoltage >= 1000 ? 2500 : 1000;
    r.testVoltage = voltage;
    r.function = "IR:" + std::to_string(voltage) + "V 100G" + std::string("\xA6\xB8");
    r.mode = "Timed";
    r.first = 1;
    r.last = 61;
    r.startMs = t.testedAt.time().msecsSinceStartOfDay();
    r.duration = 600;
    r.temperature = temperature;
    r.r15 = at(15);
    r.r30 = at(30);
    r.r60 = at(60);
    r.r600 = at(600);
    r.dar = *r.r60 / *r.r30;
    r.dar15 = *r.r60 / *r.r15;
    r.pi = *r.r600 / *r.r60;
    for (int s = 0; s <= 600; s += 10)
        t.readings.push_back({double(s), at(std::max(s, 1))});
    t.humidity = QStringLiteral("%1 %").arg(55 + static_cast<int>(15 * seq.next()));
    static constexpr std::array kOperators = {"J. Berg", "A. Novak", "M. Okafor"};
    t.operatorName = QString::fromLatin1(kOperators[static_cast<std::size_t>(year) % 3]);
    if (last && a.sharpDropAtLast)
        t.notes = QStringLiteral("Terminal box found wet after the roof leak.");
    t.sourcePath = QStringLiteral("demo/%1-%2.db").arg(QString::fromLatin1(a.tag)).arg(day.year());
    t.sourceHash = QString::fromLatin1(
        QCryptographicHash::hash(t.sourcePath.toUtf8(), QCryptographicHash::Sha256).toHex());
    t.sourceTest = 1;
    return t;
}

} // namespace

Status fillDemoRegister(AssetRegister& reg, QDate lastDay) {
    std::uint32_t seed = 1;
    for (const DemoAsset& d : kAssets) {
        Asset a;
        a.tag = QString::fromLatin1(d.tag);
        a.name = QString::fromLatin1(d.name);
        a.kind = d.kind;
        a.location = QString::fromLatin1(d.location);
        a.ratedVoltage = d.ratedVoltage;
        a.thermalClass = QString::fromLatin1(d.thermalClass);
        Result<std::optional<Asset>> there = reg.asset(a.tag);
        if (!there)
            return there.status();
        if (!there.value()) {
            if (Result<Asset> added = reg.addAsset(a); !added)
                return added.status();
        }
        Sequence seq(seed++);
        std::vector<FiledTest> tests;
        for (int y = 0; y < d.years; ++y) {
            // Yearly, in the same season, a few days apart from year to year.
            const QDate day = lastDay.addYears(y - d.years + 1).addDays(-(3 * y % 11));
            FiledTest t = demoTest(d, y, day, seq);
            judge(t.result, assetSettings(a, t.result.temperature));
            tests.push_back(std::move(t));
        }
        if (Result<FilingOutcome> filed = reg.fileTests(a.tag, tests); !filed)
            return filed.status();
    }
    return {};
}

Status fillDemoRegister(AssetRegister& reg) {
    return fillDemoRegister(reg, QDate::currentDate().addDays(-30));
}

DatabaseLocation demoDatabaseLocation() {
    const QDir temp(QStandardPaths::writableLocation(QStandardPaths::TempLocation));
    // The register makes its file, not the folder it lies in.
    temp.mkpath(QStringLiteral("kxlink-demo-register"));
    DatabaseLocation l;
    l.driver = DatabaseLocation::Driver::Sqlite;
    l.path = temp.filePath(QStringLiteral("kxlink-demo-register/assets.sqlite"));
    return l;
}

} // namespace kx
