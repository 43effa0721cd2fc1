#include "app/ui/asset_requests.h"

#include "app/app_session.h"
#include "common/ui/file_dialogs.h"
#include "common/ui/message_boxes.h"
#include "assets/register_workbook.h"
#include "reports/ui/asset_report_pdf.h"

#include <QDir>

#include <algorithm>

namespace kx {

void AssetRequests::printAssetReport(QWidget* owner, const QString& tag) {
    Result<AssetRegister*> reg = session_.assets().open();
    if (!reg) {
        boxes_.error(owner, reg.error());
        return;
    }
    FileDialogRequest request;
    request.title = QObject::tr("Save the Asset History Report");
    request.directory = QDir::home().filePath(tag + QStringLiteral(".pdf"));
    request.filters = {QStringLiteral("PDF (*.pdf)"), QStringLiteral("HTML (*.html)"),
                       QStringLiteral("CSV (*.csv)")};
    request.filterSuffixes = {QStringLiteral("pdf"), QStringLiteral("html"), QStringLiteral("csv")};
    request.defaultSuffix = QStringLiteral("pdf");
    const std::optional<FileDialogAnswer> answer = dialogs_.saveFile(owner, request);
    if (!answer)
        return;
    static constexpr AssetReportFormat formats[] = {AssetReportFormat::Pdf,
                                                    AssetReportFormat::Html,
                                                    AssetReportFormat::Csv};
    const AssetReportFormat format = formats[std::clamp(answer->filter, 0, 2)];
    Result<AssetReportData> data = assetReportOf(*reg.value(), tag);
    const Status saved =
        data ? saveAssetReport(data.value(), answer->path, format) : data.status();
    if (!saved)
        boxes_.error(owner, saved.error());
}

void AssetRequests::exportRegister(QWidget* owner) {
    Result<AssetRegister*> reg = session_.assets().open();
    if (!reg) {
        boxes_.error(owner, reg.error());
        return;
    }
    FileDialogRequest request;
    request.title = QObject::tr("Export the Asset Register");
    request.directory = QDir::home().filePath(QStringLiteral("assets.xlsx"));
    request.filters = {QStringLiteral("Excel workbook (*.xlsx)")};
    request.defaultSuffix = QStringLiteral("xlsx");
    const std::optional<FileDialogAnswer> answer = dialogs_.saveFile(owner, request);
    if (!answer)
        return;
    Result<RegisterWorkbookCounts> saved = saveRegisterXlsx(*reg.value(), answer->path);
    if (!saved)
        boxes_.error(owner, saved.error());
    else
        boxes_.information(owner, QObject::tr("%1 assets and %2 tests exported to %3.")
                                      .arg(saved.value().assets)
                                      .arg(saved.value().tests)
                                      .arg(QDir::toNativeSeparators(answer->path)));
}

QString AssetRequests::databaseUrl() const {
    return session_.databaseUrl();
}

Status AssetRequests::setDatabaseUrl(const QString& url) {
    return session_.setDatabaseUrl(url);
}

} // namespace kx
