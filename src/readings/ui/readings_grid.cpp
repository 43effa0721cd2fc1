#include "readings/ui/readings_grid.h"

#include "common/ui/message_boxes.h"
#include "readings/readings_schema.h"
#include "readings/readings_table.h"
#include "readings/readings_table_model.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace kx {
namespace {

// The grid's left margin: a narrow header that marks the current row with a triangle,
// the way data grids show their cursor.
class RowIndicator : public QHeaderView {
public:
    explicit RowIndicator(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {
        setSectionResizeMode(QHeaderView::Fixed);
        setSectionsClickable(false);
    }

    QSize sizeHint() const override { return {12, 0}; }

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override {
        painter->save();
        painter->fillRect(rect, palette().button());
        painter->setPen(palette().mid().color());
        painter->drawLine(rect.bottomLeft(), rect.bottomRight());
        painter->drawLine(rect.topRight(), rect.bottomRight());
        const auto* view = static_cast<const QTableView*>(parentWidget());
        if (view->currentIndex().isValid() && view->currentIndex().row() == logicalIndex) {
            const int cy = rect.center().y();
            const int x = rect.left() + 3;
            const QPoint tri[3] = {{x, cy - 4}, {x + 5, cy}, {x, cy + 4}};
            painter->setPen(Qt::NoPen);
            painter->setBrush(Qt::black);
            painter->drawPolygon(tri, 3);
        }
        painter->restore();
    }
};

class AlignedDelegate : public QStyledItemDelegate {
public:
    AlignedDelegate(std::vector<Qt::Alignment> align, const LinkGapRows& gaps, QObject* parent)
        : QStyledItemDelegate(parent), align_(std::move(align)), gaps_(gaps) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!gaps_.gapBefore(index.row()))
            return;
        // A separator across the row's top: the link was down before this reading.
        painter->save();
        painter->fillRect(QRect(option.rect.left(), option.rect.top(), option.rect.width(), 2),
                          QColor::fromRgba(ReadingsGrid::kGapMarkColor));
        painter->restore();
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (const LinkGap* g = gaps_.gapBefore(index.row());
            g && event->type() == QEvent::ToolTip) {
            QString text = QStringLiteral("Link down from %1 to %2")
                               .arg(g->from.toString(QStringLiteral("HH:mm:ss")),
                                    g->to.toString(QStringLiteral("HH:mm:ss")));
            if (!g->why.isEmpty())
                text += QStringLiteral(": ") + g->why;
            QToolTip::showText(event->globalPos(), text, view);
            return true;
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const auto c = static_cast<std::size_t>(index.column());
        if (c < align_.size())
            option->displayAlignment = align_[c] | Qt::AlignVCenter;
    }

private:
    std::vector<Qt::Alignment> align_;
    const LinkGapRows& gaps_;
};

} // namespace

GridLayout liveGridLayout() {
    GridLayout g;
    // Every column is centred but the remark's.
    for (const ReadingsFieldSpec& f : kReadingsSchema)
        g.columns.push_back({f.liveTitle.data(), f.liveWidth,
                             f.kind == ReadingsField::Remark ? Qt::AlignLeft : Qt::AlignHCenter});
    g.background = QColor(0xC0, 0xC0, 0xC0); // silver
    g.titleColor = Qt::black;
    g.cellPixelHeight = 11;
    g.titlePixelHeight = 15;
    g.cellBold = true;
    g.titleBold = true;
    return g;
}

GridLayout storeGridLayout() {
    GridLayout g;
    // Titled with the field names, every column centred.
    for (const ReadingsFieldSpec& f : kReadingsSchema)
        g.columns.push_back({f.storeName.data(), f.storeWidth, Qt::AlignHCenter});
    g.storeNames = true;
    g.background = QColor(0xA6, 0xCA, 0xF0); // sky blue
    g.titleColor = QColor(0xFF, 0x00, 0xFF); // fuchsia
    g.cellPixelHeight = 11;
    g.titlePixelHeight = 13;
    g.cellBold = false;
    g.titleBold = false;
    return g;
}

ReadingsGrid::ReadingsGrid(ReadingsTable& table, GridLayout layout, MessageBoxes& boxes,
                           QWidget* parent)
    : QTableView(parent), table_(table), layout_(std::move(layout)), boxes_(boxes),
      model_(new ReadingsTableModel(table, this)), gapRows_(table) {
    setVerticalHeader(new RowIndicator(this));
    setModel(model_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTabKeyNavigation(true);
    setShowGrid(true);
    setWordWrap(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->setMinimumSectionSize(1);

    connect(&table_, &ReadingsTable::rowAppended, this, [this](qint64 row) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        setCurrentIndex(model_->index(static_cast<int>(row), column));
    });
    // A walk over the table (the text export) leaves the grid on the record where it ended.
    connect(&table_, &ReadingsTable::currentMoved, this, [this](qint64 row) {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        setCurrentIndex(model_->index(static_cast<int>(row), column));
    });
    connect(model_, &QAbstractItemModel::modelReset, this, &ReadingsGrid::applyLayout);
    connect(&gapRows_, &LinkGapRows::changed, viewport(), qOverload<>(&QWidget::update));
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, verticalHeader()->viewport(),
            qOverload<>(&QWidget::update));
    applyLayout();
}

void ReadingsGrid::applyLayout() {
    QFont cell(QStringLiteral("Arial"));
    cell.setPixelSize(layout_.cellPixelHeight);
    cell.setBold(layout_.cellBold);
    setFont(cell);
    QFont title(QStringLiteral("Arial"));
    title.setPixelSize(layout_.titlePixelHeight);
    title.setBold(layout_.titleBold);
    horizontalHeader()->setFont(title);

    QPalette pal = palette();
    pal.setColor(QPalette::Base, layout_.background);
    pal.setColor(QPalette::Window, layout_.background);
    setPalette(pal);
    QPalette hp = horizontalHeader()->palette();
    hp.setColor(QPalette::ButtonText, layout_.titleColor);
    hp.setColor(QPalette::WindowText, layout_.titleColor);
    horizontalHeader()->setPalette(hp);
    verticalHeader()->setDefaultSectionSize(QFontMetrics(cell).height() + 6);

    std::vector<Qt::Alignment> align(table_.fields().size(), Qt::AlignLeft);
    model_->clearColumnTitles();
    const std::optional<ReadingsFieldMap> matched =
        matchReadingsFields(table_.fields(), layout_.storeNames);
    // A table that is not all there shows the columns it has, found by their names.
    const std::array<const char*, kReadingsFieldCount> names =
        readingsFieldNames(layout_.storeNames);
    for (std::size_t k = 0; k < layout_.columns.size() && k < names.size(); ++k) {
        const GridLayout::Column& c = layout_.columns[k];
        const int i = matched ? (*matched)[k] : table_.fieldIndex(names[k]);
        if (i < 0)
            continue;
        align[static_cast<std::size_t>(i)] = c.alignment;
        model_->setColumnTitle(i, QString::fromLatin1(c.title));
        setColumnWidth(i, c.width);
    }
    auto* old = itemDelegate();
    setItemDelegate(new AlignedDelegate(std::move(align), gapRows_, this));
    if (old && old->parent() == this)
        old->deleteLater();
}

int ReadingsGrid::currentRecord() const {
    return currentIndex().isValid() ? currentIndex().row() : -1;
}

void ReadingsGrid::deleteCurrentRecord() {
    const int row = currentRecord();
    if (row < 0)
        return;
    if (!boxes_.confirm(this, QStringLiteral("Delete record?")))
        return;
    if (const Status s = table_.deleteRecord(row); !s)
        boxes_.error(this, s.error());
}

void ReadingsGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        deleteCurrentRecord();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

} // namespace kx
