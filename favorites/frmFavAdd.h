#pragma once

#include "browser/ProgramClosedDialog.h"

#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;
class frmFav;

// The add-to-favorites dialog, shown modally by the favorites window's "追加".
// It puts the browser's current address under the typed name into the
// favorites window's lists; the favorites window then saves.
class frmFavAdd : public ProgramClosedDialog
{
    Q_OBJECT

public:
    explicit frmFavAdd(frmFav *favorites);
    ~frmFavAdd() override;

    // Where the address of the page to add comes from: by default the text of
    // the browser's address box. Returns the provider it replaces; an empty
    // provider restores the default.
    using AddressProvider = std::function<QString()>;
    static AddressProvider SetAddressProvider(AddressProvider provider);
    static QString CurrentAddress();

    void cmdAdd_Click();
    void cmdEnd_Click();
    void txtFav_KeyPress(int keyAscii);

private:
    frmFav *m_favorites;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLineEdit *txtFav = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdEnd = nullptr;
};
