#include "assets/register_session.h"

namespace kx {

RegisterSession::RegisterSession(QObject* parent) : QObject(parent) {
    location_ = defaultDatabaseLocation();
}

RegisterSession::~RegisterSession() = default;

void RegisterSession::setLocation(const DatabaseLocation& location,
                                  std::function<Status(AssetRegister&)> prepare) {
    const bool wasOpen = reg_ != nullptr;
    reg_.reset();
    location_ = location;
    prepare_ = std::move(prepare);
    failure_.clear();
    unusable_.clear();
    if (wasOpen)
        Q_EMIT registerChanged();
}

void RegisterSession::setUnusable(const QString& message) {
    setLocation(location_);
    unusable_ = message;
}

Result<AssetRegister*> RegisterSession::open() {
    if (reg_)
        return reg_.get();
    if (!unusable_.isEmpty()) {
        failure_ = unusable_;
        Q_EMIT openFailed(failure_);
        return fail(failure_);
    }
    Result<std::unique_ptr<AssetRegister>> opened = AssetRegister::open(location_);
    if (!opened) {
        failure_ = opened.error();
        Q_EMIT openFailed(failure_);
        return fail(failure_);
    }
    std::unique_ptr<AssetRegister> reg = opened.take();
    if (prepare_ && !reg->readOnly()) {
        if (const Status prepared = prepare_(*reg); !prepared) {
            failure_ = prepared.error();
            Q_EMIT openFailed(failure_);
            return fail(failure_);
        }
    }
    failure_.clear();
    reg_ = std::move(reg);
    Q_EMIT registerChanged();
    return reg_.get();
}

QString RegisterSession::readOnlyReason() const {
    return reg_ ? reg_->readOnlyReason() : QString();
}

Status RegisterSession::changed(Status status) {
    if (status)
        Q_EMIT assetsChanged();
    return status;
}

Result<std::vector<AssetSummary>> RegisterSession::list(const AssetFilter& filter) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    return reg.value()->list(filter);
}

Result<std::optional<Asset>> RegisterSession::asset(const QString& tag) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    return reg.value()->asset(tag);
}

Result<Asset> RegisterSession::addAsset(const Asset& asset) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    Result<Asset> added = reg.value()->addAsset(asset);
    if (added)
        Q_EMIT assetsChanged();
    return added;
}

Status RegisterSession::editAsset(const Asset& asset) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    return changed(reg.value()->editAsset(asset));
}

Status RegisterSession::retireAsset(const QString& tag) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    return changed(reg.value()->retireAsset(tag));
}

Result<std::vector<FiledTest>> RegisterSession::tests(const QString& tag) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    return reg.value()->tests(tag);
}

Result<FiledTest> RegisterSession::test(qint64 testId) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    return reg.value()->test(testId);
}

Result<Trend> RegisterSession::trend(const QString& tag) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    return reg.value()->trend(tag);
}

Result<FilingQuestion> RegisterSession::filingQuestion(const QString& tablePath, int test) {
    Result<std::vector<AssetSummary>> assets = list();
    if (!assets)
        return fail(assets.error());
    Result<TableTests> table = tableTestsToFile(tablePath, test);
    if (!table)
        return fail(table.error());
    return FilingQuestion{table.take(), assets.take()};
}

std::vector<FiledTest> testsAsChosen(const TableTests& table, const FilingChoice& choice) {
    std::vector<FiledTest> tests = table.tests;
    for (FiledTest& t : tests) {
        if (choice.testedAt.isValid()) {
            if (tests.size() == 1)
                t.testedAt = choice.testedAt;
            else
                t.testedAt = QDateTime(choice.testedAt.date(), t.testedAt.time());
        }
        if (choice.temperature)
            t.result.temperature = choice.temperature;
        if (!choice.humidity.isEmpty())
            t.humidity = choice.humidity;
        if (!choice.operatorName.isEmpty())
            t.operatorName = choice.operatorName;
        if (!choice.notes.isEmpty())
            t.notes = choice.notes;
    }
    return tests;
}

Result<FilingOutcome> RegisterSession::fileTable(const TableTests& table,
                                                 const FilingChoice& choice) {
    Result<AssetRegister*> reg = open();
    if (!reg)
        return fail(reg.error());
    const QString tag = choice.tag.trimmed();
    if (tag.isEmpty())
        return fail(tr("Choose the asset to file the test under."));
    if (choice.newAsset) {
        Asset fresh = *choice.newAsset;
        fresh.tag = tag;
        Result<Asset> added = reg.value()->addAsset(fresh);
        if (!added)
            return fail(added.error());
    }
    Result<FilingOutcome> outcome = reg.value()->fileTests(tag, testsAsChosen(table, choice));
    if (outcome) {
        Q_EMIT assetsChanged();
        if (outcome.value().filed > 0)
            Q_EMIT testsFiled(tag);
    }
    return outcome;
}

QString RegisterSession::outcomeText(const FilingOutcome& outcome, const QString& tag) {
    if (outcome.filed > 0 && outcome.already == 0)
        return outcome.filed == 1 ? tr("Filed under %1.").arg(tag)
                                  : tr("%1 tests filed under %2.").arg(outcome.filed).arg(tag);
    if (outcome.filed == 0)
        return outcome.already == 1
                   ? tr("Already filed: this test of this file is in the register.")
                   : tr("Already filed: these %1 tests of this file are in the register.")
                         .arg(outcome.already);
    return tr("%1 filed under %2, %3 already filed.")
        .arg(outcome.filed)
        .arg(tag)
        .arg(outcome.already);
}

} // namespace kx
