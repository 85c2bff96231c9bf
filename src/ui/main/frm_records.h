#pragma once

#include <QDialog>
#include <optional>
#include <vector>

#include "core/records.h"
#include "data/revisions.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

namespace ondrel {

struct AppContext;
class RevisionModel;

// The versions of one memo (変更履歴), or the deleted memos of a patient's
// category (削除したメモ): a list, the selected one's whole text beside it,
// and one button that brings the selected one back as a new revision.
class FrmRecords : public QDialog {
    Q_OBJECT
  public:
    enum class Kind { Versions, Deleted };
    // Versions: of the memo `mainKey`, shown at `rowVersion`. Deleted: of the
    // patient's category.
    FrmRecords(AppContext& ctx, Kind kind, qint32 mainKey, qint32 rowVersion, int formCode,
               BaseChartNo karteNo, QWidget* parent = nullptr);
    ~FrmRecords() override;
    void Form_Load();
    // The memo brought back (its key), once the dialog has closed.
    std::optional<qint32> Restored() const { return restored_; }
    // The button's work, as a click does it (asks first).
    void cmdRestore_Click();
    // A person who may not write: the button stays off, the reason its tip.
    void RefuseRestore(const QString& reason);

  protected:
    void closeEvent(QCloseEvent* event) override;
    void done(int result) override;

  private:
    void Reload();
    void ShowSelected();

    AppContext& ctx_;
    Kind kind_;
    qint32 mainKey_;
    qint32 rowVersion_;
    int formCode_;
    BaseChartNo karteNo_;
    std::optional<qint32> restored_;
    RevisionModel* model_ = nullptr;
    QTableView* grdRevisions = nullptr;
    QPlainTextEdit* txtRevision = nullptr;
    QLabel* lblRevision = nullptr;
    QPushButton* cmdRestore = nullptr;
    QPushButton* cmdClose = nullptr;
    QString refused_;
};

}  // namespace ondrel
