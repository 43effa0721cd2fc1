#pragma once

#include "reports/search_control.h"
#include "reports/table_query_model.h"

#include <QDialog>

#include <array>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;
class QTableView;

namespace kx {

class MessageBoxes;
class ReadingsTable;

// The search dialog: lists the live table's file, all of it or the records of one unit.
// Each time it comes up it rebuilds its statements, lists every record and checks
// "Voltage"; it stays open after a search.
class TFrmsearch : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 541;
    static constexpr int kClientHeight = 363;

    TFrmsearch(ReadingsTable& live, const QString& appDir, MessageBoxes& boxes,
               QWidget* parent = nullptr);

    TableQueryModel& query() { return Query1; }
    const SearchControl& control() const { return control_; }
    QRadioButton* radioButton(int i) const { return RadioButtons[static_cast<std::size_t>(i)]; }

public Q_SLOTS:
    void FormActivate();
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    int checkedChoice() const;

    MessageBoxes& boxes_;
    TableQueryModel Query1;
    SearchControl control_;

    QTableView* DBGrid1 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    std::array<QRadioButton*, kSearchChoices.size()> RadioButtons{}; // RadioButton1 .. 7
    QButtonGroup* group_ = nullptr;
    QPushButton* BitBtn1 = nullptr; // &Search
    QPushButton* BitBtn2 = nullptr; // Cancel
};

} // namespace kx
