#include "frmFav.h"

#include "core/MessageSeam.h"
#include "core/SortedText.h"
#include "core/Settings.h"
#include "core/Shared.h"
#include "favorites/FavoritesFile.h"
#include "favorites/frmFavAdd.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

using namespace kiro;

namespace {


} // namespace

frmFav::frmFav(QWidget *parent)
    : ProgramClosedDialog(parent)
{
    setObjectName(QStringLiteral("frmFav"));
    setWindowTitle(QStringLiteral("お気に入り"));
    setModal(true);

    lstFav = new QListWidget(this);
    lstFav->setObjectName(QStringLiteral("lstFav"));
    lstFav->setSelectionMode(QAbstractItemView::SingleSelection);
    lstAdrs = new QListWidget(this);
    lstAdrs->setObjectName(QStringLiteral("lstAdrs"));
    lstAdrs->setFocusPolicy(Qt::NoFocus);

    cmdDisp = MakeButton("cmdDisp", QStringLiteral("ＵＲＬ表示"));
    cmdAdd = MakeButton("cmdAdd", QStringLiteral("追加"));
    cmdDel = MakeButton("cmdDel", QStringLiteral("削除"));
    cmdDel->setToolTip(QStringLiteral("削除する名称を選択して下さい"));
    cmdEnd = MakeButton("cmdEnd", QStringLiteral("終了"));

    auto *top = new QHBoxLayout;
    top->addStretch();
    top->addWidget(cmdDisp);

    // lstAdrs shares lstFav's place and stays hidden beneath it.
    auto *lists = new QGridLayout;
    lists->addWidget(lstAdrs, 0, 0);
    lists->addWidget(lstFav, 0, 0);
    lstAdrs->hide();

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(cmdAdd);
    bottom->addStretch();
    bottom->addWidget(cmdDel);
    bottom->addStretch();
    bottom->addWidget(cmdEnd);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(lists, 1);
    layout->addLayout(bottom);
    resize(380, 420);

    connect(lstFav, &QListWidget::itemSelectionChanged, this, [this] {
        if (HighlightedIndex() >= 0)
            lstFav_Click();
    });
    connect(lstFav, &QListWidget::itemClicked, this, [this] { lstFav_Click(); });
    connect(cmdDisp, &QPushButton::clicked, this, &frmFav::cmdDisp_Click);
    connect(cmdAdd, &QPushButton::clicked, this, &frmFav::cmdAdd_Click);
    connect(cmdDel, &QPushButton::clicked, this, &frmFav::cmdDel_Click);
    connect(cmdEnd, &QPushButton::clicked, this, &frmFav::cmdEnd_Click);

    Form_Load();
}

frmFav::~frmFav() = default;

void frmFav::Form_Load()
{
    cmdDel->setEnabled(false);
    cmdDisp->setEnabled(false);

    const QString path = FavFilePath();
    EnsureFileExists(path);
    bool opened = false;
    const QList<Favorite> favorites = ReadFavorites(path, &opened);
    if (!opened && QFileInfo::exists(path)) {
        m_loadFailed = true;
        ShowMessage(QStringLiteral("お気に入りファイル（Fav.fil）を読み込めませんでした。"),
                    QStringLiteral("確認"));
    }
    for (const Favorite &favorite : favorites) {
        FavName = favorite.name;
        FavEntry = favorite.entry;
        InsertFavorite(FavName, FavEntry);
    }
    m_changed = false;
    lstFav->clearSelection();
}

void frmFav::InsertFavorite(const QString &name, const QString &entry)
{
    QStringList names;
    names.reserve(lstFav->count());
    for (int i = 0; i < lstFav->count(); ++i)
        names.append(lstFav->item(i)->text());
    // Both lists are placed by the name, so an entry can never drift away
    // from its name (as it could if lstAdrs were ordered by its own text).
    const int at = SortedInsertIndex(names, name);
    lstFav->insertItem(at, name);
    lstAdrs->insertItem(at, entry);
    m_changed = true;
}

int frmFav::HighlightedIndex() const
{
    const QListWidgetItem *item = lstFav->currentItem();
    return item && item->isSelected() ? lstFav->row(item) : -1;
}

void frmFav::lstFav_Click()
{
    cmdDel->setEnabled(true);
    cmdDisp->setEnabled(true);
}

void frmFav::cmdDisp_Click()
{
    const int k = HighlightedIndex();
    if (k < 0)
        return;
    const QString address = FavoriteAddress(lstAdrs->item(k)->text());
    // An entry without an address (a hand-made line) leaves the browser where
    // it is rather than sending it to an empty address.
    if (!address.isEmpty())
        FavAdrs = address;
    CloseByProgram();
}

void frmFav::cmdDel_Click()
{
    const int k = HighlightedIndex();
    if (k < 0)
        return;
    delete lstAdrs->takeItem(k);
    delete lstFav->takeItem(k);
    m_changed = true;
    SaveFavorites();
    lstFav->clearSelection();
    lstFav->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
}

void frmFav::cmdAdd_Click()
{
    frmFavAdd dialog(this);
    dialog.exec();
    SaveFavorites();
}

void frmFav::cmdEnd_Click()
{
    SaveFavorites();
    CloseByProgram();
}

void frmFav::SaveFavorites()
{
    const QString failed = QStringLiteral("お気に入りを保存できませんでした。");
    if (m_loadFailed) {
        if (m_changed)
            ShowMessage(failed + QStringLiteral("\r\nお気に入りファイル（Fav.fil）を読み込めなかったため、"
                                                "書き込みを控えました。"),
                        QStringLiteral("確認"));
        return;
    }
    QList<Favorite> favorites;
    favorites.reserve(lstFav->count());
    for (int i = 0; i < lstFav->count(); ++i)
        favorites.append({lstFav->item(i)->text(), lstAdrs->item(i)->text()});
    switch (WriteFavorites(FavFilePath(), favorites)) {
    case SaveResult::Ok:
        break;
    case SaveResult::Unencodable:
        ShowMessage(failed + QStringLiteral("\r\n保存できない文字が含まれています。"),
                    QStringLiteral("確認"));
        break;
    case SaveResult::IoError:
        ShowMessage(failed + QStringLiteral("\r\nお気に入りファイル（Fav.fil）に書き込めません。"),
                    QStringLiteral("確認"));
        break;
    }
}
