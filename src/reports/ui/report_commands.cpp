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

bool ReportCommands::tableReady(ReportKind kind, const ReadingsTable& table, QWidget* owner) {
    const Status s = checkReportTable(kind, table);
    if (!s && services_.boxes)
        services_.boxes->error(owner, s.error());
    return s.ok();
}

void ReportCommands::previewData(QWidget* owner) {
    if (previewOpen() || !tableReady(ReportKind::Data, live_, owner))
        return;
    show(prepareDataReport(state_, live_, today_()), {}, owner);
}

void ReportCommands::previewStore(QWidget* owner) {
    if (previewOpen() || !tableReady(ReportKind::Store, store_, owner))
        return;
    show(prepareStoreReport(state_, store_, today_()), {}, owner);
}

std::optional<QImage> ReportCommands::graphPicture(QWidget* owner) {
    if (state_.GraphPicturePath.isEmpty()) {
        if (services_.boxes)
            services_.boxes->information(owner,
                                         QStringLiteral(" Warning:Please select graph to print! "));
        return std::nullopt;
    }
    Result<QImage> picture = loadReportPicture(state_.GraphPicturePath);
    if (!picture) {
        if (services_.boxes)
            services_.boxes->error(owner, picture.error());
        return std::nullopt;
    }
    return picture.take();
}

void ReportCommands::previewGraph(QWidget* owner) {
    if (previewOpen())
        return;
    if (std::optional<QImage> picture = graphPicture(owner))
        show(prepareGraphReport(state_.GraphPicturePath, today_()), std::move(*picture), owner);
}

void ReportCommands::previewDataGraph(QWidget* owner) {
    if (previewOpen())
        return;
    std::optional<QImage> picture = graphPicture(owner);
    if (picture && tableReady(ReportKind::DataGraph, live_, owner))
        show(prepareDataGraphReport(live_, state_.GraphPicturePath, today_()), std::move(*picture),
             owner);
}

} // namespace kx
