#include "reports/ui/store_window.h"

#include "readings/readings_table_model.h"
#include "readings/ui/readings_grid.h"

#include <QEvent>
#include <QHeaderView>
#include <QStyle>
#include <QToolButton>

namespace kx {
namespace {

constexpr int kStripHeight = 24;

GridLayout storeWindowLayout() {
    GridLayout g = storeGridLayout();
    const int widths[] = {36, 67, 66, 71, 92, 77};
    for (std::size_t i = 0; i < g.columns.size() && i < std::size(widths); ++i)
        g.columns[i].width = widths[i];
    return g;
}

} // namespace

TFrmstore::TFrmstore(ReadingsTable& store, MessageBoxes& boxes, StoreActions actions,
                     QWidget* parent)
    : QDialog(parent), actions_(std::move(actions)) {
    setObjectName(QStringLiteral("Frmstore"));
    setWindowTitle(QStringLiteral("Store "));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(kClientWidth, kClientHeight);
    QPalette sky = palette();
    sky.setColor(QPalette::Window, QColor(0xA6, 0xCA, 0xF0));
    setPalette(sky);
    setAutoFillBackground(true);

    auto button = [this](const char* name, const char* hint, const QIcon& icon, int x) {
        auto* b = new QToolButton(this);
        b->setObjectName(QString::fromLatin1(name));
        if (hint)
            b->setToolTip(QString::fromLatin1(hint));
        b->setIcon(icon);
        b->setAutoRaise(true);
        b->setGeometry(x, 1, 25, 22);
        return b;
    };
    SpeedButton8 =
        button("SpeedButton8", "Save Data", QIcon(QStringLiteral(":/panel/tool_save.svg")), 2);
    SpeedButton9 =
        button("SpeedButton9", "Delete Data", QIcon(QStringLiteral(":/panel/tool_delete.svg")), 29);
    SpeedButton1 =
        button("SpeedButton1", nullptr, QIcon(QStringLiteral(":/panel/tool_open.svg")), 56);
    SpeedButton7 =
        button("SpeedButton7", nullptr, QIcon(QStringLiteral(":/panel/tool_print.svg")), 83);
    SpeedButton2 =
        button("SpeedButton2", nullptr, style()->standardIcon(QStyle::SP_DialogCloseButton), 110);

    DBGrid3 = new ReadingsGrid(store, storeWindowLayout(), boxes, this);
    DBGrid3->setObjectName(QStringLiteral("DBGrid3"));
    DBGrid3->setGeometry(0, kStripHeight, kClientWidth, kClientHeight - kStripHeight);
    // The columns keep their widths, whatever the table it is re-pointed at.
    auto fixColumns = [this] {
        DBGrid3->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    };
    fixColumns();
    connect(DBGrid3->tableModel(), &QAbstractItemModel::modelReset, this, fixColumns);

    connect(SpeedButton8, &QToolButton::clicked, this, &TFrmstore::SpeedButton8Click);
    connect(SpeedButton9, &QToolButton::clicked, this, &TFrmstore::SpeedButton9Click);
    connect(SpeedButton1, &QToolButton::clicked, this, &TFrmstore::SpeedButton1Click);
    connect(SpeedButton7, &QToolButton::clicked, this, &TFrmstore::SpeedButton7Click);
    connect(SpeedButton2, &QToolButton::clicked, this, &TFrmstore::SpeedButton2Click);
}

void TFrmstore::SpeedButton8Click() {
    if (actions_.save)
        actions_.save();
}

void TFrmstore::SpeedButton9Click() {
    if (actions_.deleteAll)
        actions_.deleteAll();
}

void TFrmstore::SpeedButton1Click() {
    if (actions_.open)
        actions_.open();
}

void TFrmstore::SpeedButton7Click() {
    if (actions_.print)
        actions_.print();
}

void TFrmstore::SpeedButton2Click() {
    close();
}

void TFrmstore::FormActivate() {
    DBGrid3->viewport()->update();
    DBGrid3->horizontalHeader()->viewport()->update();
}

bool TFrmstore::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate)
        FormActivate();
    return QDialog::event(e);
}

void TFrmstore::showEvent(QShowEvent* e) {
    QDialog::showEvent(e);
    // Centred on the window it belongs to.
    if (QWidget* p = parentWidget()) {
        QRect r(QPoint(0, 0), frameGeometry().size());
        r.moveCenter(p->window()->frameGeometry().center());
        move(r.topLeft());
    }
}

} // namespace kx
