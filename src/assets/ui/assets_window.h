#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;

namespace kx {

class AssetDialogs;
class AssetListModel;
class AssetPage;
class AssetWindowRequests;
class MessageBoxes;
class RegisterSession;
struct Asset;

// The Assets window: the register's assets with their last test and trend, searched and
// filtered, sorted by default with the soonest projected crossing of the minimum first. Its
// buttons add, edit and retire assets through the register session, open an asset's page,
// export the register as a workbook and choose the register's database. A register that
// cannot be opened is told in the window; nothing else stops working.
class AssetsWindow : public QWidget {
    Q_OBJECT
public:
    AssetsWindow(RegisterSession& session, AssetDialogs& dialogs, MessageBoxes& boxes,
                 AssetWindowRequests& requests, QWidget* parent = nullptr);
    ~AssetsWindow() override;

    // Shows the window with the register read afresh, or brings it to the front.
    void showWindow();
    // The asset's page, made at the first open; null until then.
    AssetPage* page() const { return page_; }
    // The tag of the asset selected in the list, or empty.
    QString selectedTag() const;
    bool selectTag(const QString& tag);

public Q_SLOTS:
    // Reads the register again under the search and filters.
    void Reload();
    void AddBtnClick();
    void EditBtnClick();
    void RetireBtnClick();
    void OpenBtnClick();
    void ExportBtnClick();
    void DatabaseBtnClick();

private:
    void build();
    void showFailure(const QString& message);
    void selectionChanged();

    RegisterSession& session_;
    AssetDialogs& dialogs_;
    MessageBoxes& boxes_;
    AssetWindowRequests& requests_;
    AssetListModel* model_ = nullptr;
    QSortFilterProxyModel* sorted_ = nullptr;
    AssetPage* page_ = nullptr;

    QLineEdit* SearchEdit = nullptr;
    QComboBox* KindBox = nullptr;
    QComboBox* LocationBox = nullptr;
    QCheckBox* RetiredCheck = nullptr;
    QTableView* AssetList = nullptr;
    QLabel* StatusLabel = nullptr;
    QPushButton* AddBtn = nullptr;
    QPushButton* EditBtn = nullptr;
    QPushButton* RetireBtn = nullptr;
    QPushButton* OpenBtn = nullptr;
    QPushButton* ExportBtn = nullptr;
    QPushButton* DatabaseBtn = nullptr;
    QPushButton* CloseBtn = nullptr;
};

} // namespace kx
