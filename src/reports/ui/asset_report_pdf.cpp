#include "reports/ui/asset_report_pdf.h"

#include "reports/report_export.h"

#include <QDir>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgRenderer>
#include <QTextDocument>
#include <QUrl>

namespace kx {

Status saveAssetReport(const AssetReportData& data, const QString& path, AssetReportFormat f,
                       QDate printed) {
    if (f != AssetReportFormat::Pdf)
        return saveAssetReportText(data, path, f, printed);
    Result<std::unique_ptr<ReportFile>> file = ReportFile::begin(path);
    if (!file)
        return fail(file.error());
    {
        // The chart as a picture sharp enough for print; the text laid out in pages by the
        // document, from the same HTML as the HTML report.
        QSvgRenderer svg(assetTrendSvg(data, 170, 110).toUtf8());
        QImage chart(QSize(2040, 1320), QImage::Format_RGB32);
        chart.fill(Qt::white);
        {
            QPainter p(&chart);
            svg.render(&p);
        }
        const QString chartName = QStringLiteral("asset-trend.png");
        QTextDocument doc;
        doc.addResource(QTextDocument::ImageResource, QUrl(chartName), chart);
        doc.setHtml(QString::fromUtf8(assetReportHtml(data, printed, chartName)));
        QPdfWriter writer(&file.value()->device());
        writer.setResolution(300);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                         QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter));
        writer.setCreator(QStringLiteral("kxlink"));
        writer.setTitle(QStringLiteral("Asset history: %1").arg(data.asset.tag));
        doc.print(&writer);
    }
    // The PDF engine does not look at what its writes returned: the file remembers.
    if (Status s = file.value()->status(); !s)
        return s;
    return file.value()->finish();
}

} // namespace kx
