#include "frmUtl.h"

#include "DirListBox.h"
#include "DriveListBox.h"
#include "SettingsValues.h"
#include "VolumeList.h"

#include "browser/BrowserView.h"
#include "browser/ExtensionListWidget.h"
#include "browser/frmMain.h"
#include "core/MessageSeam.h"
#include "core/ProfileIni.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "core/TextFile.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

const QString kConfirm = QStringLiteral("確認");
const QString kRetry = QStringLiteral("再試行");
const QString kLeaveWithoutSaving = QStringLiteral("保存せずに終了");
const QString kQuoteInExtension = QStringLiteral("拡張子に「\"」は使用できません。");
const QString kAddressTooLong = QStringLiteral("アドレスが長すぎるため、ホームページに設定できません。");
const QString kFolderTooLong = QStringLiteral("フォルダのパスが長すぎるため、設定できません。");

// The address of the page the browser window shows now.
QString DefaultCurrentPage()
{
    frmMain *browser = frmMain::instance();
    if (!browser || !browser->WB())
        return QString();
    return browser->WB()->LocationURL();
}

// Why the folder cannot be the stored download folder; "" when it can. It
// must come back from the file as the very same path.
QString FolderRefusal(const QString &folder)
{
    const QString unstorable = kiro::FirstUnstorableCharacter(folder, kiro::Folding::NotAllowed);
    if (!unstorable.isEmpty())
        return kiro::UnstorableCharacterMessage(unstorable);
    if (folder.size() > kiro::LongestStoredValue)
        return kFolderTooLong;
    return QString();
}

QString SaveFailedMessage(const QString &path)
{
    return QStringLiteral("設定を保存できませんでした。\r\n") + QDir::toNativeSeparators(path)
            + QStringLiteral("\r\nファイルに書き込めるか確認して下さい。\r\n"
                             "「再試行」でもう一度保存し、「保存せずに終了」で変更を捨てて閉じます。");
}

template <typename T>
T *Named(T *widget, const char *name)
{
    widget->setObjectName(QLatin1String(name));
    return widget;
}

// A label with a white background that shows a value, however long, without
// widening the window; the whole value is in its tooltip.
QLabel *ValueLabel(const char *name)
{
    auto *label = Named(new QLabel, name);
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    label->setMinimumWidth(200);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QPushButton *Button(const char *name, const QString &caption)
{
    auto *button = Named(new QPushButton(caption), name);
    // Enter in a text box must not press a button (and so never saves).
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

QFrame *GreyLine(const char *name)
{
    auto *line = Named(new QFrame, name);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    QPalette palette = line->palette();
    palette.setColor(QPalette::WindowText, QColor(0xc0, 0xc0, 0xc0));
    line->setPalette(palette);
    return line;
}

} // namespace

frmUtl::frmUtl(QWidget *parent)
    : ProgramClosedDialog(parent)
    , m_currentPage(DefaultCurrentPage)
{
    setObjectName(QStringLiteral("frmUtl"));
    setWindowTitle(QStringLiteral("設定"));
    setModal(true);
    BuildControls();
    Form_Load();
}

frmUtl::~frmUtl() = default;

void frmUtl::setCurrentPageProvider(CurrentPageProvider provider)
{
    m_currentPage = provider ? std::move(provider) : CurrentPageProvider(DefaultCurrentPage);
}

void frmUtl::BuildControls()
{
    // Start page.
    Frame1 = Named(new QGroupBox(QStringLiteral("ホームページ")), "Frame1");
    Label1 = Named(new QLabel(QStringLiteral("アドレス")), "Label1");
    lblHP = ValueLabel("lblHP");
    cmdSet1 = Button("cmdSet1", QStringLiteral("現在のページを使用"));
    cmdSet2 = Button("cmdSet2", QStringLiteral("標準を使用"));
    cmdSet3 = Button("cmdSet3", QStringLiteral("空白を使用"));

    auto *frame1Layout = new QGridLayout(Frame1);
    frame1Layout->addWidget(Label1, 0, 0);
    frame1Layout->addWidget(lblHP, 0, 1);
    auto *setButtons = new QHBoxLayout;
    setButtons->addStretch(1);
    setButtons->addWidget(cmdSet1);
    setButtons->addWidget(cmdSet2);
    setButtons->addWidget(cmdSet3);
    frame1Layout->addLayout(setButtons, 1, 0, 1, 2);
    frame1Layout->setColumnStretch(1, 1);

    // Download.
    Frame2 = Named(new QGroupBox(QStringLiteral("ダウンロード")), "Frame2");
    Label2 = Named(new QLabel(QStringLiteral("初期設定フォルダ")), "Label2");
    lblFstDir = ValueLabel("lblFstDir");
    Drive = Named(new DriveListBox, "Drive");
    Drive->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Drive->setMinimumContentsLength(12);
    DirLB = Named(new DirListBox, "DirLB");
    QFont dirFont = DirLB->font();
    dirFont.setFamilies({QStringLiteral("ＭＳ ゴシック"), QStringLiteral("MS Gothic"),
                         QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("monospace")});
    DirLB->setFont(dirFont);
    DirLB->setMinimumSize(260, 150);

    Label4 = Named(new QLabel(QStringLiteral("ファイル選択")), "Label4");
    Label6 = Named(new QLabel(QStringLiteral("ダウンロードするファイルの拡張子をチェックして下さい")),
                   "Label6");
    lstExtsn = Named(new QListWidget, "lstExtsn");
    lstExtsn->setSelectionMode(QAbstractItemView::SingleSelection);
    // Low enough that the third option still fits a 600-pixel screen.
    lstExtsn->setMinimumSize(160, 100);
    Label5 = Named(new QLabel(QStringLiteral("拡張子の追加・削除")), "Label5");
    txtExtsn = Named(new QLineEdit, "txtExtsn");
    txtExtsn->setMaximumWidth(140);
    cmdAdd = Button("cmdAdd", QStringLiteral("<<<<追加"));
    cmdDel = Button("cmdDel", QStringLiteral("削除>>>>"));

    txtgrhkb = Named(new QLineEdit, "txtgrhkb");
    txtgrhkb->setMaximumWidth(110);
    txtgrhkb->setAlignment(Qt::AlignRight);
    Label3 = Named(new QLabel(QStringLiteral("ｋｂ以下のファイルは収集しない")), "Label3");
    ChkSubURL = Named(new QCheckBox(
            QStringLiteral("現在のページに記述されているＵＲＬからも収集する")), "ChkSubURL");
    ChkFileName = Named(new QCheckBox(
            QStringLiteral("ダウンロードするファイル名にURL名を加える")), "ChkFileName");
    Label7 = Named(new QLabel(QStringLiteral("［例：www_example_com@file1.jpg］")), "Label7");
    chkPageView = Named(new QCheckBox(QStringLiteral("表示中のページからも収集する")), "chkPageView");
    spnFilesAtOnce = Named(new QSpinBox, "spnFilesAtOnce");
    spnFilesAtOnce->setRange(kiro::MinFilesAtOnce, kiro::MaxFilesAtOnce);
    lblFilesAtOnce = Named(new QLabel(QStringLiteral("同時に取得するファイル数")), "lblFilesAtOnce");
    lblFilesAtOnce->setBuddy(spnFilesAtOnce);
    Line1 = GreyLine("Line1");
    Line2 = GreyLine("Line2");

    // Two columns, so that the dialog fits a screen of 600 pixels with a
    // panel: the folder pickers on the left; the extensions, the threshold
    // and the options on the right.
    auto *frame2Layout = new QGridLayout(Frame2);
    auto *folderRow = new QHBoxLayout;
    folderRow->addWidget(Label2);
    folderRow->addWidget(lblFstDir, 1);
    frame2Layout->addLayout(folderRow, 0, 0, 1, 3);

    auto *pickers = new QVBoxLayout;
    pickers->addWidget(Drive);
    pickers->addWidget(DirLB, 1);
    frame2Layout->addLayout(pickers, 1, 0);
    Line1->setFrameShape(QFrame::VLine);
    frame2Layout->addWidget(Line1, 1, 1);

    auto *right = new QVBoxLayout;
    right->addWidget(Label4);
    right->addWidget(Label6);
    auto *extensionGrid = new QGridLayout;
    extensionGrid->addWidget(lstExtsn, 0, 0, 4, 1);
    extensionGrid->addWidget(Label5, 0, 1, 1, 2);
    extensionGrid->addWidget(cmdAdd, 1, 1);
    extensionGrid->addWidget(txtExtsn, 1, 2);
    extensionGrid->addWidget(cmdDel, 2, 1);
    extensionGrid->setRowStretch(3, 1);
    extensionGrid->setColumnStretch(0, 1);
    extensionGrid->setColumnStretch(2, 1);
    extensionGrid->setAlignment(txtExtsn, Qt::AlignLeft);
    right->addLayout(extensionGrid, 1);
    right->addWidget(Line2);

    auto *thresholdRow = new QHBoxLayout;
    thresholdRow->addWidget(txtgrhkb);
    thresholdRow->addWidget(Label3);
    thresholdRow->addStretch(1);
    thresholdRow->addWidget(lblFilesAtOnce);
    thresholdRow->addWidget(spnFilesAtOnce);
    right->addLayout(thresholdRow);
    right->addWidget(ChkSubURL);
    right->addWidget(ChkFileName);
    auto *exampleRow = new QHBoxLayout;
    exampleRow->addSpacing(24);
    exampleRow->addWidget(Label7);
    exampleRow->addStretch(1);
    right->addLayout(exampleRow);
    right->addWidget(chkPageView);
    frame2Layout->addLayout(right, 1, 2);
    frame2Layout->setColumnStretch(0, 2);
    frame2Layout->setColumnStretch(2, 3);
    frame2Layout->setRowStretch(1, 1);

    cmdEnd = Button("cmdEnd", QStringLiteral("終了"));
    cmdEnd->setMinimumWidth(100);

    auto *mainLayout = new QVBoxLayout(this);
    mainLayout->addWidget(Frame1);
    mainLayout->addWidget(Frame2, 1);
    auto *endRow = new QHBoxLayout;
    endRow->addStretch(1);
    endRow->addWidget(cmdEnd);
    mainLayout->addLayout(endRow);

    connect(cmdSet1, &QPushButton::clicked, this, &frmUtl::cmdSet1_Click);
    connect(cmdSet2, &QPushButton::clicked, this, &frmUtl::cmdSet2_Click);
    connect(cmdSet3, &QPushButton::clicked, this, &frmUtl::cmdSet3_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmUtl::cmdAdd_Click);
    connect(cmdDel, &QPushButton::clicked, this, &frmUtl::cmdDel_Click);
    connect(cmdEnd, &QPushButton::clicked, this, &frmUtl::cmdEnd_Click);
    connect(DirLB, &DirListBox::change, this, &frmUtl::DirLB_Change);
    connect(Drive, &QComboBox::activated, this, &frmUtl::Drive_Change);
}

void frmUtl::Form_Load()
{
    kiro::LoadSettings();
    ShowStartPage();
    lblFstDir->setText(kiro::FstDir);
    lblFstDir->setToolTip(kiro::FstDir);
    ChkSubURL->setChecked(kiro::chkSubURL == 1);
    ChkFileName->setChecked(kiro::chkFileName == 1);
    chkPageView->setChecked(kiro::chkPageView == 1);
    spnFilesAtOnce->setValue(kiro::FilesAtOnce);
    ShowFolder(kiro::FstDir);
    txtgrhkb->setText(QString::number(kiro::grhkb));

    const QString extsnPath = kiro::ExtsnFilePath();
    kiro::EnsureFileExists(extsnPath);
    kiro::ShowExtensions(lstExtsn, kiro::ReadExtensionFile(extsnPath));
    kiro::SetExtensionList(kiro::ExtensionsShown(lstExtsn));

    lstExtsn->clearSelection();
    lstExtsn->setCurrentItem(nullptr);
}

void frmUtl::ShowStartPage()
{
    lblHP->setText(kiro::FstHpAdrs);
    lblHP->setToolTip(kiro::FstHpAdrs);
}

void frmUtl::ShowFolder(const QString &folder)
{
    const QSignalBlocker blocker(DirLB);
    if (!DirLB->setPath(folder)) {
        // A stored folder that is gone: show the nearest folder there is.
        QString probe = kiro::NearestExistingFolder(folder);
        if (probe.isEmpty() || !DirLB->setPath(probe))
            DirLB->setPath(kiro::AppDir);
    }
    Drive->setDrive(kiro::VolumeRootOf(DirLB->path()));
}

void frmUtl::cmdSet1_Click()
{
    const QString address = m_currentPage ? m_currentPage() : QString();
    if (kiro::AddressForStorage(kiro::TrimSpaces(address)).size() > kiro::LongestStoredValue) {
        kiro::ShowMessage(kAddressTooLong, kConfirm);
        return;
    }
    kiro::FstHpAdrs = address;
    ShowStartPage();
}

void frmUtl::cmdSet2_Click()
{
    kiro::FstHpAdrs = kiro::StdHpAdrs;
    ShowStartPage();
}

void frmUtl::cmdSet3_Click()
{
    kiro::FstHpAdrs = QString();
    ShowStartPage();
}

void frmUtl::DirLB_Change()
{
    const QString folder = DirLB->path();
    const QString refusal = FolderRefusal(folder);
    if (!refusal.isEmpty()) {
        kiro::ShowMessage(refusal, kConfirm);
        ShowFolder(kiro::FstDir);
        return;
    }
    kiro::FstDir = folder;
    lblFstDir->setText(folder);
    lblFstDir->setToolTip(folder);
    Drive->setDrive(kiro::VolumeRootOf(folder));
}

void frmUtl::Drive_Change(int index)
{
    const QString root = Drive->driveAt(index);
    // Picking the drive already shown changes nothing.
    if (!root.isEmpty() && root.compare(kiro::VolumeRootOf(DirLB->path()), Qt::CaseInsensitive) == 0)
        return;
    if (root.isEmpty() || !kiro::FolderCanBeOpened(root)) {
        // A volume without a medium or otherwise not ready: back to where we
        // were, without a word.
        ShowFolder(kiro::FstDir);
        return;
    }
    DirLB->setPath(root);
}

bool frmUtl::ExtensionAcceptable(const QString &name)
{
    // A double quote would end the name's field in Extsn.fil.
    if (name.contains(QLatin1Char('"'))) {
        kiro::ShowMessage(kQuoteInExtension, kConfirm);
        return false;
    }
    const QString unstorable = kiro::FirstUnstorableCharacter(name);
    if (!unstorable.isEmpty()) {
        kiro::ShowMessage(kiro::UnstorableCharacterMessage(unstorable), kConfirm);
        return false;
    }
    return true;
}

void frmUtl::cmdAdd_Click()
{
    const QString text = txtExtsn->text();
    if (text.isEmpty())
        return;
    if (!ExtensionAcceptable(text)) {
        txtExtsn->setFocus();
        return;
    }
    kiro::InsertExtensionItem(lstExtsn, text, false);
    txtExtsn->clear();
    txtExtsn->setFocus();
}

void frmUtl::cmdDel_Click()
{
    const QList<QListWidgetItem *> highlighted = lstExtsn->selectedItems();
    if (highlighted.isEmpty())
        return;
    delete highlighted.first();
    lstExtsn->clearSelection();
    lstExtsn->setCurrentItem(nullptr);
    lstExtsn->setFocus();
}

void frmUtl::cmdEnd_Click()
{
    while (true) {
        QString failedPath;
        switch (SaveSettings(&failedPath)) {
        case SaveOutcome::Saved:
            CloseByProgram();
            return;
        case SaveOutcome::Refused:
            return;   // told why; the edits stay for the user to mend
        case SaveOutcome::NotWritten:
            break;
        }
        const int choice = kiro::AskQuestion(SaveFailedMessage(failedPath), kConfirm,
                                             {kRetry, kLeaveWithoutSaving});
        if (choice == 0)
            continue;
        if (choice == 1) {
            // The start page and the folder changed as they were picked; they
            // go back to what the file holds.
            kiro::LoadSettings();
            CloseByProgram(QDialog::Rejected);
        }
        return;
    }
}

frmUtl::SaveOutcome frmUtl::SaveSettings(QString *failedPath)
{
    using namespace kiro;

    const QString stdHp = AddressForStorage(TrimSpaces(StdHpAdrs));
    const QString fstHp = AddressForStorage(TrimSpaces(FstHpAdrs));
    const QString fstDir = TrimSpaces(FstDir);
    const QList<ExtensionEntry> entries = ExtensionsShown(lstExtsn);

    // Nothing is written unless all of it can be stored and read back whole.
    const QString folderRefusal = FolderRefusal(fstDir);
    if (!folderRefusal.isEmpty()) {
        ShowMessage(folderRefusal, kConfirm);
        return SaveOutcome::Refused;
    }
    if (stdHp.size() > LongestStoredValue || fstHp.size() > LongestStoredValue) {
        ShowMessage(kAddressTooLong, kConfirm);
        return SaveOutcome::Refused;
    }
    for (const ExtensionEntry &entry : entries) {
        if (!ExtensionAcceptable(entry.name))
            return SaveOutcome::Refused;
    }

    qint64 threshold = 0;
    if (!ParseNumber(txtgrhkb->text(), &threshold)) {
        txtgrhkb->setText(QStringLiteral("0"));
        threshold = 0;
    }
    const int subUrl = ChkSubURL->isChecked() ? 1 : 0;
    const int fileName = ChkFileName->isChecked() ? 1 : 0;
    const int pageView = chkPageView->isChecked() ? 1 : 0;
    const int filesAtOnce = spnFilesAtOnce->value();

    // KIRO.ini once with all its keys, Extsn.fil once, both or neither.
    const QList<ProfileValue> values = {
        {QStringLiteral("StdHpAdrs"), IniValueField(stdHp)},
        {QStringLiteral("FstHpAdrs"), IniValueField(fstHp)},
        {QStringLiteral("FstDir"), IniValueField(fstDir)},
        {QStringLiteral("chkSubURL"), IniValueField(QString::number(subUrl))},
        {QStringLiteral("chkFileName"), IniValueField(QString::number(fileName))},
        {QStringLiteral("chkPageView"), IniValueField(QString::number(pageView))},
        {QStringLiteral("FilesAtOnce"), IniValueField(QString::number(filesAtOnce))},
        {QStringLiteral("grhkb"), IniValueField(FormatThreshold(threshold))},
    };
    QByteArray iniBytes;
    QByteArray listBytes;
    if (ProfileWithValues(IniSection, values, IniPath, &iniBytes) != SaveResult::Ok
        || EncodeExtensionFile(entries, &listBytes) != SaveResult::Ok) {
        // Only the addresses are left unchecked above, and they are ASCII.
        ShowMessage(UnstorableCharacterMessage(FirstUnstorableCharacter(stdHp + fstHp)), kConfirm);
        return SaveOutcome::Refused;
    }
    IniWriteBuf = values.last().value;
    const SaveResult written = WriteFilesAtomically(
            {{IniPath, iniBytes}, {ExtsnFilePath(), listBytes}}, failedPath);
    IniResult = written == SaveResult::Ok ? 1 : 0;
    if (written != SaveResult::Ok)
        return SaveOutcome::NotWritten;
    ++FileNo;

    chkSubURL = subUrl;
    chkFileName = fileName;
    kiro::chkPageView = pageView;
    FilesAtOnce = filesAtOnce;
    grhkb = threshold;
    SetExtensionList(entries);
    LoadSettings();
    return SaveOutcome::Saved;
}
