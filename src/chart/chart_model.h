// Room chart: the chart's pages, what it plots and its value axis. Uses the rooms up to
// readings; ui/ the chart view.
#pragma once

#include "chart/chart_axis.h"
#include "common/result.h"
#include "readings/link_gaps.h"
#include "readings/reading_quantity.h"
#include "readings/record_store.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QRect>
#include <QString>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace kx {

class ReadingsTable;

// Pages of the chart: with P points a page, page n shows points (n - 1) * P + 1 to n * P.
// Fewer than one point a page puts everything on one page; there is always at least one.
qint64 chartPageCount(qint64 points, int perPage);

// The four page buttons and the enabled states they leave: BtFirst and BTPrevious change
// together, as do BtNext and BTlast.
enum class PageButton { First, Previous, Next, Last };
struct PageButtons {
    qint64 page = 1;
    bool firstPreviousEnabled = true;
    bool nextLastEnabled = true;
};
// What pressing `button` does, given the page count: First and Previous on page 1 disable
// themselves and enable the other pair, Next on the last page and Last do the opposite.
PageButtons pressPageButton(PageButton button, PageButtons state, qint64 pageCount);

// The points-per-page box: a whole number in the 32-bit signed range, or the message
// "'<text>' is not a valid integer value". Whether the number is allowed is the chart's
// business (setPointsPerPage).
Result<int> pointsPerPageFromText(const QString& text);
// Whether the box keeps a typed character: digits and backspace only.
bool isPointsPerPageKey(QChar c);

// File name of a saved picture: "yymmddhhnn", "page", the page label as shown, ".bmp".
// Two saves of one page within a minute share the name.
QString chartPictureName(const QDateTime& when, const QString& pageLabel);
// Writes a picture's bytes by the rules of every write (ReplacingFile: the target checked
// first, a temporary beside it renamed over it once all is on disk, a link written through),
// replacing a file of that name; on failure "Cannot create file "<path>". <reason>" and
// nothing is left behind.
Status writePictureFile(const QString& path, const QByteArray& bytes);
// The same checks alone, for a caller that draws only once it knows the picture can go there.
Status checkPictureTarget(const QString& path);

// Enlarge and restore of the chart over the window. `chart` is the chart's geometry on the
// window's scrolling surface, `scroll` the offset of the surface's visible part. A chart that
// is not enlarged and lies more than 50 pixels below the top of the visible part is enlarged
// over the window: at 2, 30 of the visible part, the window's outer width less 12 by its
// outer height less 90; its bounds are kept in `normalBounds` first. An enlarged chart goes
// back to `normalBounds`. Bounds are kept on the surface, and what a click does follows
// from the chart's state rather than its position: after scrolling, the restore image still
// restores, and the chart goes back exactly.
struct ChartPlacement {
    QRect geometry;
    bool enlarged = false;
};
ChartPlacement enlargeOrRestore(const QRect& chart, bool enlarged, const QPoint& scroll,
                                const QSize& windowOuter, QRect& normalBounds);

// What the chart draws of its page: runs of points (X the record's No, Y the reading in base
// units), a gap between runs where readings do not convert or measure another quantity, and
// the span of both axes.
struct ChartTrace {
    QList<QList<QPointF>> runs;
    ChartQuantity quantity = ChartQuantity::Plain;
    bool sample = true;    // the chart holds only its sample point
    bool anyValue = false; // some reading on the page converted; yMin/yMax are valid
    double yMin = 0;
    double yMax = 0;
    double yLeast = 0; // the smallest reading above zero; 0 when none is
    double xLo = 0;
    double xHi = 1;
};

// The value axis of a page: the sample's, a resistance axis, or a linear one for volts or
// plain numbers; an empty page keeps its quantity's unit.
ChartAxis chartAxis(const ChartTrace& trace);

// The chart of the live table: one point per record, read from the table whenever the chart
// is drawn; the chart keeps no copy of the points. It follows the table as it grows, is reset,
// or loses records, and holds the chart's own state: the page shown, the points per page,
// the page buttons' states and label, the active series, and where pictures go.
//
// What it plots: the resistance readings, with the others (voltage checks, readings without
// a unit) left out as gaps; a chart of voltage readings only plots those in volts; readings
// whose unit the program does not know are plotted as plain numbers only when there are no
// others. Values that are not numbers (blanks, dashes, overloads) are gaps too, and so is a
// stretch the link to the meter was down in (setLinkGaps): the line is not drawn across it.
//
// While records arrive the chart follows the newest page, unless the user has paged away from
// it with the page buttons; going to the last page again resumes following.
//
// The chart's own Clear goes back to a single sample point and from then on shows only the
// records that come after it; a table that is reset (emptied, re-opened, re-pointed) is
// shown from its first page again, with the label and the buttons as at start.
class ChartModel : public QObject {
    Q_OBJECT
public:
    // Series in the chart's order: the area series (index 0) and the line series (1).
    static constexpr int kAreaSeries = 0;
    static constexpr int kLineSeries = 1;
    static constexpr int kSeriesCount = 2;
    // The point each series holds when no reading is shown.
    static constexpr QPointF kSamplePoint{0, 0};
    // The value axis while only the sample point is shown.
    static constexpr double kSampleAxisMin = -11000;
    static constexpr double kSampleAxisMax = 11000;
    // Rows summarised together for drawing long pages.
    static constexpr qint64 kBlockRows = 64;

    explicit ChartModel(ReadingsTable& table, QObject* parent = nullptr);

    ReadingsTable& table() const { return table_; }

    // Records shown (those after the last Clear); points count the sample point when there
    // are none, as the pages do.
    qint64 readingCount() const;
    qint64 pointCount() const;
    bool showsSample() const { return readingCount() == 0; }

    int pointsPerPage() const { return perPage_; }
    // Negative counts are refused with "MaxPointsPerPage must be >= 0"; 0 puts every point on
    // one page. A page beyond the new page count moves to the last page.
    Status setPointsPerPage(int perPage);
    // The box's text changed: converted, then set; the count stays on failure.
    Status MaxrecordChange(const QString& text);

    qint64 pageCount() const;
    qint64 page() const { return page_; }
    // Limited to 1 .. page count; the current page changes nothing. A page before the last
    // stops the chart following new records; the last page resumes it.
    void setPage(qint64 page);
    // Whether a record that starts a new page brings the chart to it.
    bool following() const { return following_; }

    // The page buttons, with their enabled states and the label they write. Following new
    // records moves the page as Last does.
    void pressPageButton(PageButton button);
    bool firstPreviousEnabled() const { return buttons_.firstPreviousEnabled; }
    bool nextLastEnabled() const { return buttons_.nextLastEnabled; }
    const QString& pageLabel() const { return pageLabel_; }

    // Makes series `index` the only active one; an index out of range leaves none active,
    // and then a single page.
    void ShowSeries(int index);
    int activeSeries() const { return active_; }
    // The Fill switch: ticked shows the area series, unticked the line series. The switch is
    // the chart's own setting, like the points per page: the chart's check box, the Graph
    // menu's Fill and the command line show and set this one.
    bool fillTicked() const { return fill_; }
    void BtFillClick(bool fillTicked);
    // Clear: back to the sample point, the area series shown first and then the one the
    // Fill switch chooses. Page, points per page, label and buttons stay as they are; a page
    // past the one page left shows the sample point until the page buttons move.
    void BtNewClick();

    // Table rows [first, end) of the page shown.
    std::pair<qint64, qint64> pageRows() const;
    // What the active series draws of the page shown, for a plot `columns` pixels wide. Pages
    // with more points than columns are drawn a column at a time: the line series gets the
    // column's smallest and largest reading in record order, the area series (filled from
    // below) its largest; the vertical span still covers every reading of the page.
    ChartTrace trace(int columns) const;

    // What the readings shown measure: Resistance when any of them is a resistance reading,
    // otherwise Voltage when any is a voltage reading, otherwise Plain.
    ChartQuantity quantity() const;
    // The reading of a table row as a number, nothing when it does not convert or measures
    // another quantity than the chart plots; and its X (the record's No, or its point number
    // when the record has none).
    std::optional<double> valueAt(qint64 row) const;
    double xAt(qint64 row) const;

    // Where pictures go, with a trailing separator; the path of a picture saved now.
    const QString& picturesDir() const { return picturesDir_; }
    void setPicturesDir(const QString& dir);
    QString picturePath(const QDateTime& when) const;
    static QString pictureSavedMessage(const QString& path);

    // The stretches the link was down in while the table was recorded (its details): the
    // line breaks before the first reading after each.
    void setLinkGaps(std::vector<LinkGap> gaps) { gapRows_.setGaps(std::move(gaps)); }
    const LinkGapRows& linkGapRows() const { return gapRows_; }

    // Bytes held beside the table for drawing.
    std::size_t memoryUsage() const;

Q_SIGNALS:
    // What the chart shows changed (page, series, points per page, or records of the page
    // shown); views redraw, coalescing bursts.
    void changed();
    // The Fill switch or the points per page were set: views show the new settings.
    void settingsChanged();
    // The page label or the page buttons' states changed.
    void pagingChanged();

private:
    struct Block {
        float min = 0;
        float max = 0;
        std::uint8_t minAt = 0; // row offsets within the block
        std::uint8_t maxAt = 0;
        bool any = false;   // some reading in the block converted
        bool known = false; // computed since the table last changed below it
    };
    struct Extremes {
        bool any = false;
        double min = 0;
        double max = 0;
        qint64 minRow = 0;
        qint64 maxRow = 0;
        void add(double v, qint64 row);
    };

    void resolveFields();
    void tableReset();
    void rowAppended(qint64 row);
    void rowRemoved(qint64 row);
    void keepPageInRange();
    void restartPaging();
    void follow();
    void restartQuantity();
    ChartQuantity knownQuantity() const; // from the rows looked at so far
    QuantityKind kindAt(qint64 row) const;
    ReadingQuantity quantityAt(qint64 row) const;
    std::optional<double> numberAt(qint64 row) const; // of blocksQuantity_
    // The summaries hold numbers of one quantity; they are dropped when it changes.
    void useQuantity(ChartQuantity q) const;
    Extremes scan(qint64 first, qint64 end) const;
    const Block& block(qint64 index) const;

    ReadingsTable& table_;
    LinkGapRows gapRows_;
    qint64 start_ = 0;
    int perPage_ = 100;
    qint64 page_ = 1;
    PageButtons buttons_;
    QString pageLabel_ = QStringLiteral("1");
    bool following_ = true;
    int active_ = kAreaSeries;
    bool fill_ = true;
    QString picturesDir_;

    int noField_ = -1;
    int valueField_ = -1;
    int unitField_ = -1;
    RecordStore::Storage noStorage_ = RecordStore::Storage::None;
    RecordStore::Storage valueStorage_ = RecordStore::Storage::None;
    mutable std::vector<Block> blocks_; // whole blocks only, filled in as pages need them
    mutable ChartQuantity blocksQuantity_ = ChartQuantity::Plain;
    // The first resistance and voltage readings among rows [start_, kindsSeen_), -1 for none:
    // looked for as far as needed, and no further once a resistance reading is found.
    mutable qint64 kindsSeen_ = 0;
    mutable qint64 firstResistance_ = -1;
    mutable qint64 firstVoltage_ = -1;
};

} // namespace kx
