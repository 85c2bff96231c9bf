#include "ui/setup/frm_setup.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "core/app_context.h"
#include "core/wait_cursor.h"
#include "data/system_db.h"
#include "gui/controls.h"
#include "gui/twips.h"

namespace ondrel {

namespace {

const QString kCaption = QStringLiteral("指導指示管理 - はじめての設定");

QLineEdit* PathBox(QWidget* parent, const QString& name, const QString& accessible) {
    auto* box = new QLineEdit(parent);
    NameControl(box, name);
    box->setAccessibleName(accessible);
    box->setMinimumWidth(360);
    return box;
}

QPushButton* Button(QWidget* parent, const QString& caption, const QString& name) {
    auto* b = new QPushButton(caption, parent);
    NameControl(b, name);
    b->setAutoDefault(false);
    return b;
}

}  // namespace

FrmSetup::FrmSetup(AppContext& ctx, QString templateFolder, QWidget* parent)
    : QDialog(parent), ctx_(ctx), templateFolder_(std::move(templateFolder)) {
    NameControl(this, QStringLiteral("frmSetup"));
    setWindowTitle(kCaption);
    setFont(WindowsFont(11.25));
    setModal(true);

    auto* intro = new QLabel(
        QStringLiteral(
            "指導指示管理をこのパソコンで使う準備をします。\n"
            "メモを保存するデータベースと、画面のタイトル（医院名など）を決めて下さい。"),
        this);
    NameControl(intro, QStringLiteral("lblIntro"));

    kinds_ = new QButtonGroup(this);
    const std::array<QString, 4> captions{
        QStringLiteral("このパソコンに新しいデータベースを作る"),
        QStringLiteral("データベースサーバーを使う（複数の端末で共有）"),
        QStringLiteral("既存のデータベースファイルを使う"),
        QStringLiteral("デモデータで試す（架空の患者とメモ）")};
    auto* grid = new QGridLayout;
    for (int i = 0; i < 4; ++i) {
        optKind[i] = new QRadioButton(captions[i], this);
        NameControl(optKind[i], QStringLiteral("optKind"), i);
        kinds_->addButton(optKind[i], i);
        grid->addWidget(optKind[i], i * 2, 0, 1, 2);
    }
    txtNewDb =
        PathBox(this, QStringLiteral("txtNewDb"), QStringLiteral("新しいデータベースの場所"));
    txtNewDb->setText(DefaultNewDatabase(ctx.ProgramFolder));
    cmdNewDbBrowse = Button(this, QStringLiteral("参照..."), QStringLiteral("cmdNewDbBrowse"));
    cmdNewDbBrowse->setAccessibleName(QStringLiteral("新しいデータベースの場所を選ぶ"));
    txtServer = PathBox(this, QStringLiteral("txtServer"), QStringLiteral("データベースサーバー"));
    txtServer->setPlaceholderText(QStringLiteral("postgresql://サーバー名/データベース名"));
    cmdServerTest = Button(this, QStringLiteral("接続を確かめる"), QStringLiteral("cmdServerTest"));
    txtExisting =
        PathBox(this, QStringLiteral("txtExisting"), QStringLiteral("既存のデータベースファイル"));
    cmdExistingBrowse =
        Button(this, QStringLiteral("参照..."), QStringLiteral("cmdExistingBrowse"));
    cmdExistingBrowse->setAccessibleName(QStringLiteral("既存のデータベースファイルを選ぶ"));
    const std::array<std::pair<QLineEdit*, QPushButton*>, 3> rows{
        {{txtNewDb, cmdNewDbBrowse}, {txtServer, cmdServerTest}, {txtExisting, cmdExistingBrowse}}};
    for (int i = 0; i < 3; ++i) {
        grid->addWidget(rows[i].first, i * 2 + 1, 0);
        grid->addWidget(rows[i].second, i * 2 + 1, 1);
    }
    grid->setColumnMinimumWidth(0, 360);
    grid->setContentsMargins(24, 0, 0, 0);

    auto* titleRow = new QHBoxLayout;
    auto* titleLabel = new QLabel(QStringLiteral("タイトル(&T):"), this);
    txtTitle = new QLineEdit(QStringLiteral("指導指示管理"), this);
    NameControl(txtTitle, QStringLiteral("txtTitle"));
    txtTitle->setAccessibleName(QStringLiteral("タイトル"));
    titleLabel->setBuddy(txtTitle);
    titleRow->addWidget(titleLabel);
    titleRow->addWidget(txtTitle, 1);

    auto* folder = new QLabel(QStringLiteral("設定と帳票の保存先: ") + ctx.ProgramFolder, this);
    NameControl(folder, QStringLiteral("lblFolder"));
    folder->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* buttons = new QDialogButtonBox(this);
    cmdOK = Button(this, QStringLiteral("OK"), QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = Button(this, QStringLiteral("キャンセル"), QStringLiteral("cmdCancel"));
    buttons->addButton(cmdOK, QDialogButtonBox::AcceptRole);
    buttons->addButton(cmdCancel, QDialogButtonBox::RejectRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(intro);
    layout->addSpacing(8);
    layout->addLayout(grid);
    layout->addSpacing(8);
    layout->addLayout(titleRow);
    layout->addWidget(folder);
    layout->addWidget(buttons);

    optKind[int(SetupChoice::Kind::NewFile)]->setChecked(true);
    EnableInputs();
    connect(kinds_, &QButtonGroup::idClicked, this, [this](int) { EnableInputs(); });
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cmdServerTest, &QPushButton::clicked, this, [this] { cmdServerTest_Click(); });
    connect(cmdNewDbBrowse, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getSaveFileName(
            this, QStringLiteral("新しいデータベースの場所"), txtNewDb->text(),
            QStringLiteral("データベース (*.db);;すべてのファイル (*)"), nullptr,
            QFileDialog::DontConfirmOverwrite);
        if (!f.isEmpty()) txtNewDb->setText(f);
    });
    connect(cmdExistingBrowse, &QPushButton::clicked, this, [this] {
        const QString f = QFileDialog::getOpenFileName(
            this, QStringLiteral("既存のデータベースファイル"), txtExisting->text(),
            QStringLiteral("データベース (*.db *.sqlite);;すべてのファイル (*)"));
        if (!f.isEmpty()) txtExisting->setText(f);
    });
}

void FrmSetup::EnableInputs() {
    const int kind = kinds_->checkedId();
    txtNewDb->setEnabled(kind == 0);
    cmdNewDbBrowse->setEnabled(kind == 0);
    txtServer->setEnabled(kind == 1);
    cmdServerTest->setEnabled(kind == 1);
    txtExisting->setEnabled(kind == 2);
    cmdExistingBrowse->setEnabled(kind == 2);
}

SetupChoice FrmSetup::Choice() const {
    SetupChoice c;
    c.kind = SetupChoice::Kind(std::max(0, kinds_->checkedId()));
    const std::array<QLineEdit*, 4> boxes{txtNewDb, txtServer, txtExisting, nullptr};
    if (QLineEdit* box = boxes[int(c.kind)]) c.database = box->text().trimmed();
    c.title = txtTitle->text().trimmed();
    return c;
}

bool FrmSetup::cmdServerTest_Click(bool quietOnSuccess) {
    SetupChoice c = Choice();
    c.kind = SetupChoice::Kind::Server;
    c.database = txtServer->text().trimmed();
    if (c.title.isEmpty()) c.title = kCaption;  // only the server is asked here
    if (const QString problem = SetupChoiceProblem(c); !problem.isEmpty()) {
        ctx_.prompter.Warning(kCaption, problem);
        txtServer->setFocus();
        return false;
    }
    QString problem;
    {
        WaitCursorGuard wait(ctx_.waitCursor);
        ctx_.settings.SystemDB = c.database;
        Session(ctx_).CloseKept();
        problem = ServerStartProblem(ctx_);
        ctx_.settings.SystemDB.clear();
    }
    if (!problem.isEmpty()) {
        Session(ctx_).CloseKept();
        ctx_.prompter.Warning(kCaption, problem);
        txtServer->setFocus();
        return false;
    }
    if (!quietOnSuccess) {
        ctx_.prompter.Information(kCaption,
                                  QStringLiteral("データベースサーバーに接続できました。"));
    }
    return true;
}

void FrmSetup::cmdOK_Click() {
    const SetupChoice c = Choice();
    if (const QString problem = SetupChoiceProblem(c); !problem.isEmpty()) {
        ctx_.prompter.Warning(kCaption, problem);
        return;
    }
    if (c.kind == SetupChoice::Kind::Server && !cmdServerTest_Click(true)) return;
    QString error;
    {
        WaitCursorGuard wait(ctx_.waitCursor);
        error = ApplyFirstSetup(ctx_.ProgramFolder, templateFolder_, c, ctx_.clock.Today());
    }
    if (!error.isEmpty()) {
        ctx_.prompter.Warning(kCaption, error);
        return;
    }
    accept();
}

bool FrmSetup::Run(AppContext& ctx, const QString& templateFolder) {
    FrmSetup dialog(ctx, templateFolder);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace ondrel
