#pragma once

#include <QString>

namespace kx {

// The reports' state kept for the whole run, under the names the program uses throughout.
struct ReportState {
    int DataReportPages = 1;  // page total printed in the data report's footer
    int StoreReportPages = 1; // page total printed in the stored-data report's footer
    QString GraphPicturePath; // picture of both graph reports, chosen in Print Style
};

} // namespace kx
