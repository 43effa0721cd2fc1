// The asset's fields, filing a test and the register's location, as small modal dialogs.
#include "assets/ui/asset_dialogs.h"

#include "assets/ui/asset_list_model.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kx {

namespace {

// A dialog with a form and OK / Cancel.
struct FormDialog {
    QDialog dialog;
    QFormLayout* form = nullptr;
    QDialogButtonBox* buttons = nullptr;

    FormDialog(QWidget* parent, const QString& title) : dialog(parent) {
        dialog.setWindowTitle(title);
        auto* layout = new QVBoxLayout(&dialog);
        form = new QFormLayout;
        layout->addLayout(form);
        buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
        layout->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    }
    template <typename W> W* add(const QString& label, W* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        form->addRow(label, w);
        return w;
    }
};

QComboBox* kindBox(AssetKind current) {
    auto* box = new QComboBox;
    for (AssetKind k : kAssetKinds) {
        box->addItem(assetKindCaption(k), int(k));
        if (k == current)
            box->setCurrentIndex(box->count() - 1);
    }
    return box;
}

// An optional figure: 0 shows as the special text and reads back as none.
QDoubleSpinBox* optionalBox(std::optional<double> value, double scale, double max,
                            const QString& none, const QString& suffix, int decimals = 1) {
    auto* box = new QDoubleSpinBox;
    box->setRange(0, max);
    box->setDecimals(decimals);
    box->setSpecialValueText(none);
    box->setSuffix(suffix);
    box->setValue(value ? *value / scale : 0);
    return box;
}

std::optional<double> optionalValue(const QDoubleSpinBox* box, double scale) {
    return box->value() > 0 ? std::optional<double>(box->value() * scale) : std::nullopt;
}

} // namespace

std::optional<Asset> QtAssetDialogs::askAsset(QWidget* parent, const Asset& start) {
    FormDialog d(parent, start.id == 0 ? QObject::tr("Add Asset") : QObject::tr("Edit Asset"));
    auto* tag = d.add(QObject::tr("Tag"), new QLineEdit(start.tag), "TagEdit");
    auto* name = d.add(QObject::tr("Name"), new QLineEdit(start.name), "NameEdit");
    auto* kind = d.add(QObject::tr("Kind"), kindBox(start.kind), "KindBox");
    auto* location = d.add(QObject::tr("Location"), new QLineEdit(start.location), "LocationEdit");
    auto* voltage = d.add(QObject::tr("Rated voltage"),
                          optionalBox(start.ratedVoltage, 1, 1e6, QObject::tr("not given"),
                                      QStringLiteral(" V"), 0),
                          "VoltageEdit");
    auto* thermal = d.add(QObject::tr("Thermal class"), new QComboBox, "ThermalBox");
    thermal->addItems({QString(), QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("F"),
                       QStringLiteral("H")});
    thermal->setCurrentText(start.thermalClass);
    auto* minimum = d.add(QObject::tr("Minimum at 40 °C"),
                          optionalBox(start.minimumOhms, 1e6, 1e7, QObject::tr("the kind's"),
                                      QStringLiteral(" MΩ")),
                          "MinimumEdit");
    auto* piMinimum = d.add(QObject::tr("PI minimum"),
                            optionalBox(start.piMinimum, 1, 100, QObject::tr("the class's"),
                                        QString(), 2),
                            "PiMinimumEdit");
    auto* notes = d.add(QObject::tr("Notes"), new QPlainTextEdit(start.notes), "NotesEdit");
    notes->setMaximumHeight(80);
    auto* ok = d.buttons->button(QDialogButtonBox::Ok);
    const auto tagGiven = [ok, tag] { ok->setEnabled(!tag->text().trimmed().isEmpty()); };
    QObject::connect(tag, &QLineEdit::textChanged, ok, tagGiven);
    tagGiven();
    if (d.dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    Asset a = start;
    a.tag = tag->text().trimmed();
    a.name = name->text().trimmed();
    a.kind = AssetKind(kind->currentData().toInt());
    a.location = location->text().trimmed();
    a.ratedVoltage = optionalValue(voltage, 1);
    a.thermalClass = thermal->currentText();
    a.minimumOhms = optionalValue(minimum, 1e6);
    a.piMinimum = optionalValue(piMinimum, 1);
    a.notes = notes->toPlainText();
    return a;
}

QString filingDateNote(TestDateSource source) {
    switch (source) {
    case TestDateSource::Recording:
        return QObject::tr("from the recording");
    case TestDateSource::Given:
        return QObject::tr("as given");
    case TestDateSource::FileDate:
        break;
    }
    return QObject::tr("the file's date: please confirm");
}

FilingChoice initialFilingChoice(const FilingQuestion& q) {
    FilingChoice c;
    c.tag = q.table.detailsAsset;
    if (!q.table.tests.empty()) {
        const FiledTest& first = q.table.tests.front();
        c.testedAt = first.testedAt;
        c.temperature = first.result.temperature;
        c.humidity = first.humidity;
        c.operatorName = first.operatorName;
        c.notes = first.notes;
    }
    return c;
}

std::optional<FilingChoice> QtAssetDialogs::askFiling(QWidget* parent, const FilingQuestion& q) {
    FilingChoice c = initialFilingChoice(q);
    FormDialog d(parent, QObject::tr("File under Asset"));
    auto* asset = d.add(QObject::tr("Asset"), new QComboBox, "AssetBox");
    asset->setEditable(true);
    for (const AssetSummary& s : q.assets)
        if (!s.asset.retired)
            asset->addItem(s.asset.tag);
    asset->setCurrentText(c.tag);
    auto* newName = d.add(QObject::tr("New asset's name"), new QLineEdit, "NewNameEdit");
    auto* newKind = d.add(QObject::tr("New asset's kind"), kindBox(AssetKind::Other), "NewKindBox");
    const auto isNew = [&q, asset] {
        const QString tag = asset->currentText().trimmed();
        return !tag.isEmpty() && std::none_of(q.assets.begin(), q.assets.end(),
                                              [&tag](const AssetSummary& s) {
                                                  return s.asset.tag == tag;
                                              });
    };
    const auto showNew = [&] {
        newName->setEnabled(isNew());
        newKind->setEnabled(isNew());
    };
    QObject::connect(asset, &QComboBox::currentTextChanged, &d.dialog, showNew);
    showNew();
    auto* date = d.add(QObject::tr("Tested"), new QDateTimeEdit(c.testedAt), "DateEdit");
    date->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    date->setCalendarPopup(true);
    auto* note = new QLabel(filingDateNote(q.table.dateSource));
    note->setObjectName(QStringLiteral("DateNote"));
    if (q.table.dateSource == TestDateSource::FileDate)
        note->setStyleSheet(QStringLiteral("color: #c00000; font-weight: bold"));
    d.form->addRow(QString(), note);
    auto* temperature = d.add(QObject::tr("Winding temperature"),
                              optionalBox(c.temperature, 1, 200, QObject::tr("not measured"),
                                          QStringLiteral(" °C")),
                              "TemperatureEdit");
    auto* humidity = d.add(QObject::tr("Humidity"), new QLineEdit(c.humidity), "HumidityEdit");
    auto* op = d.add(QObject::tr("Operator"), new QLineEdit(c.operatorName), "OperatorEdit");
    auto* notes = d.add(QObject::tr("Notes"), new QLineEdit(c.notes), "NotesEdit");
    if (q.table.tests.size() > 1)
        d.form->addRow(QString(), new QLabel(QObject::tr("%1 tests; each keeps its time of day.")
                                                 .arg(q.table.tests.size())));
    if (d.dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    c.tag = asset->currentText().trimmed();
    if (isNew()) {
        Asset a;
        a.tag = c.tag;
        a.name = newName->text().trimmed();
        a.kind = AssetKind(newKind->currentData().toInt());
        c.newAsset = a;
    }
    c.testedAt = date->dateTime();
    c.temperature = optionalValue(temperature, 1);
    c.humidity = humidity->text().trimmed();
    c.operatorName = op->text().trimmed();
    c.notes = notes->text().trimmed();
    return c;
}

std::optional<QString> QtAssetDialogs::askDatabase(QWidget* parent, const QString& current) {
    FormDialog d(parent, QObject::tr("Asset Register Database"));
    auto* url = d.add(QObject::tr("Database"), new QLineEdit(current), "DatabaseEdit");
    url->setMinimumWidth(380);
    url->setPlaceholderText(QObject::tr("the default register"));
    d.form->addRow(QString(),
                   new QLabel(QObject::tr("sqlite:PATH, or postgresql://USER@HOST:PORT/DBNAME.\n"
                                          "Empty: the register in your data folder.")));
    if (d.dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return url->text().trimmed();
}

} // namespace kx
