#include "frmFavAdd.h"

#include "core/MessageSeam.h"
#include "core/TextFile.h"
#include "favorites/FavoritesFile.h"
#include "favorites/frmFav.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

using namespace kiro;

namespace {

frmFavAdd::AddressProvider &Provider()
{
    static frmFavAdd::AddressProvider provider;
    return provider;
}

// The browser window's address box: the one of the window named frmMain, or
// failing that any top-level window's line edit named TURL.
QString BrowserAddressBoxText()
{
    QLineEdit *fallback = nullptr;
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto *turl = window->findChild<QLineEdit *>(QStringLiteral("TURL"));
        if (!turl)
            continue;
        if (window->objectName() == QLatin1String("frmMain"))
            return turl->text();
        if (!fallback)
            fallback = turl;
    }
    return fallback ? fallback->text() : QString();
}


} // namespace

frmFavAdd::frmFavAdd(frmFav *favorites)
    : ProgramClosedDialog(favorites)
    , m_favorites(favorites)
{
    setObjectName(QStringLiteral("frmFavAdd"));
    setWindowTitle(QStringLiteral("お気に入りの追加"));
    setModal(true);

    Label1 = new QLabel(QStringLiteral("このページがお気に入りに追加されます"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("名前"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    txtFav = new QLineEdit(this);
    txtFav->setObjectName(QStringLiteral("txtFav"));
    Label2->setBuddy(txtFav);
    cmdAdd = MakeButton("cmdAdd", QStringLiteral("追加"));
    cmdEnd = MakeButton("cmdEnd", QStringLiteral("終了"));

    auto *nameRow = new QHBoxLayout;
    nameRow->addWidget(Label2);
    nameRow->addWidget(txtFav, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cmdAdd);
    buttons->addWidget(cmdEnd);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addSpacing(6);
    layout->addLayout(nameRow);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    setMinimumWidth(400);
    setFixedHeight(sizeHint().height());

    connect(txtFav, &QLineEdit::returnPressed, this, [this] { txtFav_KeyPress(13); });
    connect(cmdAdd, &QPushButton::clicked, this, &frmFavAdd::cmdAdd_Click);
    connect(cmdEnd, &QPushButton::clicked, this, &frmFavAdd::cmdEnd_Click);
    txtFav->setFocus();
}

frmFavAdd::~frmFavAdd() = default;

frmFavAdd::AddressProvider frmFavAdd::SetAddressProvider(AddressProvider provider)
{
    AddressProvider previous = std::move(Provider());
    Provider() = std::move(provider);
    return previous;
}

QString frmFavAdd::CurrentAddress()
{
    const AddressProvider provider = Provider();
    return provider ? provider() : BrowserAddressBoxText();
}

void frmFavAdd::cmdAdd_Click()
{
    const QString name = txtFav->text();
    if (TrimSpaces(name).isEmpty())
        return;
    const QString problem = FavoriteNameProblem(name);
    if (!problem.isEmpty()) {
        ShowMessage(problem, QStringLiteral("確認"));
        txtFav->setFocus();
        return;
    }
    const QString address = EncodeFavoriteAddress(CurrentAddress());
    m_favorites->InsertFavorite(name, MakeFavoriteEntry(name, address));
    CloseByProgram();
}

void frmFavAdd::cmdEnd_Click()
{
    CloseByProgram();
}

void frmFavAdd::txtFav_KeyPress(int keyAscii)
{
    if (keyAscii == 13)
        cmdAdd_Click();
}
