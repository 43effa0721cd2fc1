#include "assets/ui/assets_window.h"

#include "assets/ui/asset_list_model.h"
#include "assets/register_session.h"
#include "assets/ui/asset_dialogs.h"
#include "assets/ui/asset_page.h"
#include "common/ui/message_boxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace kx {

namespace {

template <typename W> W* named(W* w, const char* name) {
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

} // namespace

AssetsWindow::AssetsWindow(RegisterSession& session, AssetDialogs& dialogs, MessageBoxes& boxes,
                           AssetWindowRequests& requests, QWidget* parent)
    : QWidget(parent, Qt::Window), session_(session), dialogs_(dialogs), boxes_(boxes),
      requests_(requests) {
    setObjectName(QStringLiteral("FrmAssets"));
    setWindowTitle(tr("Assets"));
    build();
    // Hidden, the window reads nothing (showWindow reads afresh): a register is opened only
    // when the user asks for it.
    const auto follow = [this] {
        if (isVisible())
            Reload();
    };
    connect(&session_, &RegisterSession::assetsChanged, this, follow);
    connect(&session_, &RegisterSession::registerChanged, this, follow);
}

AssetsWindow::~AssetsWindow() = default;

void AssetsWindow::build() {
    auto* layout = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    SearchEdit = named(new QLineEdit, "SearchEdit");
    SearchEdit->setPlaceholderText(tr("Search tag, name, location, kind"));
    SearchEdit->setClearButtonEnabled(true);
    KindBox = named(new QComboBox, "KindBox");
    KindBox->addItem(tr("Every kind"), -1);
    for (AssetKind k : kAssetKinds)
        KindBox->addItem(assetKindCaption(k), int(k));
    LocationBox = named(new QComboBox, "LocationBox");
    LocationBox->addItem(tr("Every location"));
    LocationBox->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    RetiredCheck = named(new QCheckBox(tr("Show retired")), "RetiredCheck");
    filters->addWidget(SearchEdit, 2);
    filters->addWidget(KindBox, 1);
    filters->addWidget(LocationBox, 1);
    filters->addWidget(RetiredCheck);
    layout->addLayout(filters);

    model_ = new AssetListModel(this);
    sorted_ = new QSortFilterProxyModel(this);
    sorted_->setSourceModel(model_);
    sorted_->setSortRole(AssetListModel::kSortRole);
    AssetList = named(new QTableView, "AssetList");
    AssetList->setModel(sorted_);
    AssetList->setSelectionBehavior(QAbstractItemView::SelectRows);
    AssetList->setSelectionMode(QAbstractItemView::SingleSelection);
    AssetList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    AssetList->setSortingEnabled(true);
    AssetList->sortByColumn(AssetListModel::Crossing, Qt::AscendingOrder);
    AssetList->verticalHeader()->hide();
    AssetList->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    AssetList->horizontalHeader()->setStretchLastSection(true);
    AssetList->setAlternatingRowColors(true);
    AssetList->setWordWrap(false);
    layout->addWidget(AssetList, 1);

    StatusLabel = named(new QLabel, "StatusLabel");
    StatusLabel->setWordWrap(true);
    StatusLabel->hide();
    layout->addWidget(StatusLabel);

    auto* buttons = new QHBoxLayout;
    AddBtn = named(new QPushButton(tr("Add…")), "AddBtn");
    EditBtn = named(new QPushButton(tr("Edit…")), "EditBtn");
    RetireBtn = named(new QPushButton(tr("Retire")), "RetireBtn");
    OpenBtn = named(new QPushButton(tr("Open")), "OpenBtn");
    ExportBtn = named(new QPushButton(tr("Export…")), "ExportBtn");
    DatabaseBtn = named(new QPushButton(tr("Database…")), "DatabaseBtn");
    CloseBtn = named(new QPushButton(tr("Close")), "CloseBtn");
    for (QPushButton* b : {AddBtn, EditBtn, RetireBtn, OpenBtn})
        buttons->addWidget(b);
    buttons->addStretch(1);
    for (QPushButton* b : {ExportBtn, DatabaseBtn, CloseBtn})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    resize(1040, 540);

    connect(SearchEdit, &QLineEdit::textChanged, this, &AssetsWindow::Reload);
    connect(KindBox, &QComboBox::currentIndexChanged, this, &AssetsWindow::Reload);
    connect(LocationBox, &QComboBox::currentIndexChanged, this, &AssetsWindow::Reload);
    connect(RetiredCheck, &QCheckBox::toggled, this, &AssetsWindow::Reload);
    connect(AddBtn, &QPushButton::clicked, this, &AssetsWindow::AddBtnClick);
    connect(EditBtn, &QPushButton::clicked, this, &AssetsWindow::EditBtnClick);
    connect(RetireBtn, &QPushButton::clicked, this, &AssetsWindow::RetireBtnClick);
    connect(OpenBtn, &QPushButton::clicked, this, &AssetsWindow::OpenBtnClick);
    connect(ExportBtn, &QPushButton::clicked, this, &AssetsWindow::ExportBtnClick);
    connect(DatabaseBtn, &QPushButton::clicked, this, &AssetsWindow::DatabaseBtnClick);
    connect(CloseBtn, &QPushButton::clicked, this, &QWidget::close);
    connect(AssetList, &QTableView::doubleClicked, this, &AssetsWindow::OpenBtnClick);
    connect(AssetList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &AssetsWindow::selectionChanged);
    selectionChanged();
}

void AssetsWindow::showWindow() {
    Reload();
    show();
    raise();
    activateWindow();
}

QString AssetsWindow::selectedTag() const {
    const QModelIndexList rows = AssetList->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    return model_->row(sorted_->mapToSource(rows.front()).row()).asset.tag;
}

bool AssetsWindow::selectTag(const QString& tag) {
    for (int r = 0; r < model_->rowCount(); ++r) {
        if (model_->row(r).asset.tag == tag) {
            AssetList->selectRow(sorted_->mapFromSource(model_->index(r, 0)).row());
            return true;
        }
    }
    return false;
}

void AssetsWindow::selectionChanged() {
    const bool one = !selectedTag().isEmpty();
    const bool writable = session_.isOpen() && session_.readOnlyReason().isEmpty();
    EditBtn->setEnabled(one && writable);
    RetireBtn->setEnabled(one && writable);
    OpenBtn->setEnabled(one);
    AddBtn->setEnabled(writable);
    ExportBtn->setEnabled(session_.isOpen());
}

void AssetsWindow::showFailure(const QString& message) {
    StatusLabel->setText(message);
    StatusLabel->setStyleSheet(QStringLiteral("color: #c00000"));
    StatusLabel->setVisible(!message.isEmpty());
}

void AssetsWindow::Reload() {
    const QString keep = selectedTag();
    AssetFilter filter;
    filter.text = SearchEdit->text().trimmed();
    filter.includeRetired = RetiredCheck->isChecked();
    Result<std::vector<AssetSummary>> listed = session_.list(filter);
    if (!listed) {
        model_->setRows({});
        showFailure(listed.error());
        selectionChanged();
        return;
    }
    showFailure(session_.readOnlyReason());
    AssetListFilter shown;
    if (const int k = KindBox->currentData().toInt(); k >= 0)
        shown.kind = AssetKind(k);
    if (LocationBox->currentIndex() > 0)
        shown.location = LocationBox->currentText();
    // The locations offered are those of the assets the search found.
    const QStringList locations = assetLocations(listed.value());
    const QSignalBlocker quiet(LocationBox);
    while (LocationBox->count() > 1)
        LocationBox->removeItem(1);
    LocationBox->addItems(locations);
    LocationBox->setCurrentIndex(std::max(0, LocationBox->findText(shown.location)));
    model_->setRows(filteredAssets(listed.take(), shown));
    AssetList->resizeColumnsToContents();
    if (!keep.isEmpty())
        selectTag(keep);
    selectionChanged();
}

void AssetsWindow::AddBtnClick() {
    std::optional<Asset> asset = dialogs_.askAsset(this, Asset{});
    if (!asset)
        return;
    Result<Asset> added = session_.addAsset(*asset);
    if (!added) {
        boxes_.error(this, added.error());
        return;
    }
    selectTag(added.value().tag);
}

void AssetsWindow::EditBtnClick() {
    Result<std::optional<Asset>> found = session_.asset(selectedTag());
    if (!found || !found.value()) {
        boxes_.error(this, found ? tr("The asset is no longer in the register.") : found.error());
        return;
    }
    std::optional<Asset> edited = dialogs_.askAsset(this, *found.value());
    if (!edited)
        return;
    if (const Status s = session_.editAsset(*edited); !s)
        boxes_.error(this, s.error());
}

void AssetsWindow::RetireBtnClick() {
    const QString tag = selectedTag();
    if (tag.isEmpty() ||
        !boxes_.confirm(this, tr("Retire %1? Its tests stay in the register.").arg(tag)))
        return;
    if (const Status s = session_.retireAsset(tag); !s)
        boxes_.error(this, s.error());
}

void AssetsWindow::OpenBtnClick() {
    const QString tag = selectedTag();
    if (tag.isEmpty())
        return;
    if (!page_)
        page_ = new AssetPage(session_, boxes_, requests_, this);
    page_->showAsset(tag);
}

void AssetsWindow::ExportBtnClick() {
    requests_.exportRegister(this);
}

void AssetsWindow::DatabaseBtnClick() {
    std::optional<QString> url = dialogs_.askDatabase(this, requests_.databaseUrl());
    if (!url)
        return;
    if (const Status s = requests_.setDatabaseUrl(*url); !s) {
        boxes_.error(this, s.error());
        return;
    }
    Reload();
}

} // namespace kx
