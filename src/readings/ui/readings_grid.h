#pragma once

#include "readings/link_gaps.h"

#include <QColor>
#include <QTableView>

#include <vector>

namespace kx {

class MessageBoxes;
class ReadingsTable;
class ReadingsTableModel;

// How one grid shows its table: column titles, widths and alignment, colours and fonts.
// The columns are the six fields of a readings table in their order (matchReadingsFields):
// a table of the other kind, or one made by another program, gets the same titles and widths.
struct GridLayout {
    struct Column {
        const char* title;
        int width;
        Qt::Alignment alignment;
    };
    std::vector<Column> columns;
    bool storeNames = false; // the stored table's field names are looked for first
    QColor background;
    QColor titleColor;
    int cellPixelHeight = 11;
    int titlePixelHeight = 15;
    bool cellBold = true;
    bool titleBold = true;
};

// The main window's readings grid and the stored grid.
GridLayout liveGridLayout();
GridLayout storeGridLayout();

// A read-only data grid over a readings table, with a row indicator. The newest record
// becomes the current row after each append; Ctrl+Delete deletes the current record after
// confirmation. The first reading after a stretch the link was down in has a red line above
// it, and its tooltip tells the stretch.
class ReadingsGrid : public QTableView {
    Q_OBJECT
public:
    ReadingsGrid(ReadingsTable& table, GridLayout layout, MessageBoxes& boxes,
                 QWidget* parent = nullptr);

    ReadingsTableModel* tableModel() const { return model_; }
    int currentRecord() const;
    // Deletes the current record after "Delete record?" was answered with OK.
    void deleteCurrentRecord();
    // The stretches the link was down in while the table was recorded (its details).
    void setLinkGaps(std::vector<LinkGap> gaps) { gapRows_.setGaps(std::move(gaps)); }
    const LinkGapRows& linkGapRows() const { return gapRows_; }
    // The separator's colour.
    static constexpr QRgb kGapMarkColor = 0xFFD00000;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void applyLayout();

    ReadingsTable& table_;
    GridLayout layout_;
    MessageBoxes& boxes_;
    ReadingsTableModel* model_;
    LinkGapRows gapRows_;
};

} // namespace kx
