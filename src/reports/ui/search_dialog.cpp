#include "reports/ui/search_dialog.h"

#include "common/ui/message_boxes.h"
#include "common/ui/window_fonts.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QStyle>
#include <QTableView>

namespace kx {

TFrmsearch::TFrmsearch(ReadingsTable& live, const QString& appDir, MessageBoxes& boxes,
                       QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      boxes_(boxes), control_(live, Query1, appDir) {
    setObjectName(QStringLiteral("Frmsearch"));
    setWindowTitle(QStringLiteral("Search"));
    setFont(arial(11));
    setFixedSize(kClientWidth, kClientHeight);
    Query1.setObjectName(QStringLiteral("Query1"));

    DBGrid1 = new QTableView(this);
    DBGrid1->setObjectName(QStringLiteral("DBGrid1"));
    DBGrid1->setGeometry(3, 3, 535, 250);
    DBGrid1->setModel(&Query1);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // Rows of one height let the view handle a result of millions of records.
    DBGrid1->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    DBGrid1->verticalHeader()->setDefaultSectionSize(18);
    DBGrid1->verticalHeader()->hide();
    DBGrid1->horizontalHeader()->setDefaultSectionSize(86);
    DBGrid1->horizontalHeader()->setFont(arial(11, true));

    GroupBox1 = new QGroupBox(QStringLiteral("Condition"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(3, 258, 535, 52);
    auto* row = new QHBoxLayout(GroupBox1);
    // Seven captions in one row fill the frame's width: a smaller face and tight spacing.
    row->setContentsMargins(4, 2, 2, 4);
    row->setSpacing(6);
    GroupBox1->setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; }"));
    group_ = new QButtonGroup(this);
    for (std::size_t i = 0; i < kSearchChoices.size(); ++i) {
        auto* b = new QRadioButton(QString::fromLatin1(kSearchChoices[i].caption), GroupBox1);
        b->setObjectName(QStringLiteral("RadioButton%1").arg(i + 1));
        b->setFont(arial(10));
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        row->addWidget(b);
        group_->addButton(b, static_cast<int>(i));
        RadioButtons[i] = b;
    }
    row->addStretch(1);

    BitBtn1 = new QPushButton(QStringLiteral("&Search"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    BitBtn1->setGeometry(150, 322, 100, 28);
    BitBtn1->setDefault(true);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
    BitBtn2->setGeometry(291, 322, 100, 28);
    connect(BitBtn1, &QPushButton::clicked, this, &TFrmsearch::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

void TFrmsearch::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Every showing starts afresh: the statements follow the live table wherever it now
    // points.
    if (!event->spontaneous())
        FormActivate();
}

void TFrmsearch::FormActivate() {
    if (const Status s = control_.activate(); !s)
        boxes_.error(this, s.error());
    RadioButtons[0]->setChecked(true);
}

void TFrmsearch::BitBtn1Click() {
    const Result<SearchControl::Outcome> r = control_.search(checkedChoice());
    if (!r)
        boxes_.error(this, r.error());
    else if (r.value() == SearchControl::Outcome::EmptyDatabase)
        boxes_.information(this, SearchControl::emptyDatabaseMessage());
    else if (r.value() == SearchControl::Outcome::NoMatch)
        boxes_.information(this, SearchControl::noMatchMessage());
}

int TFrmsearch::checkedChoice() const {
    return group_->checkedId(); // -1 when none is checked
}

} // namespace kx
