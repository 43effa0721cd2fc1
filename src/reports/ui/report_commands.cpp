#include "reports/ui/report_commands.h"

#include "common/ui/message_boxes.h"

namespace kx {

ReportCommands::ReportCommands(ReadingsTable& live, ReadingsTable& store, ReportState& state,
                               ReportServices services, QObject* parent)
    : QObject(parent), live_(live), store_(store), state_(state), services_(services),
      today_([] { return QDate::currentDate(); }) {}

void ReportCommands::show(ReportDocument doc, QImage picture, QWidget* owner) {
    auto* preview = new ReportPreview(std::move(doc), std::move(picture), services_, owner);
    preview_ = preview;
    preview->show();
    Q_EMIT previewOpened(preview);
    preview->exec();
    // The owner may have gone with the preview while it was open.
    if (preview_)
        delete preview_.data();
    preview_.clear();
}

void ReportCommands::preview(ReportKind kind, QWidget* owner) {
    if (previewOpen())
        return;
    // No picture chosen is a hint for the user, not an error.
    if (reportNeedsPicture(kind) && state_.GraphPicturePath.isEmpty()) {
        if (services_.boxes)
            services_.boxes->information(owner, noPictureMessage());
        return;
    }
    const ReadingsTable* table = kind == ReportKind::Store   ? &store_
                                 : kind == ReportKind::Graph ? nullptr
                                                             : &live_;
    Result<DrawableReport> report = prepareDrawableReport(kind, table, state_, today_());
    if (!report) {
        if (services_.boxes)
            services_.boxes->error(owner, report.error());
        return;
    }
    show(std::move(report.value().document), std::move(report.value().picture), owner);
}

void ReportCommands::previewData(QWidget* owner) {
    preview(ReportKind::Data, owner);
}

void ReportCommands::previewStore(QWidget* owner) {
    preview(ReportKind::Store, owner);
}

void ReportCommands::previewGraph(QWidget* owner) {
    preview(ReportKind::Graph, owner);
}

void ReportCommands::previewDataGraph(QWidget* owner) {
    preview(ReportKind::DataGraph, owner);
}

} // namespace kx
