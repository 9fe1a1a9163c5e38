#pragma once

#include "browser/ProgramClosedDialog.h"

class QListWidget;
class QPushButton;

// The favorites window, shown modally from the browser's "MyFav". It reads
// Fav.fil afresh each time it opens and writes it at once on every change.
// The address of a shown favorite goes back to the browser through FavAdrs.
class frmFav : public ProgramClosedDialog
{
    Q_OBJECT

public:
    explicit frmFav(QWidget *parent = nullptr);
    ~frmFav() override;

    // Puts a name into lstFav and its entry into lstAdrs at the same sorted
    // place, so that the two lists stay paired item for item.
    void InsertFavorite(const QString &name, const QString &entry);
    // Writes Fav.fil from the two lists, in lstFav's order.
    void SaveFavorites();

    // What the user's actions run; public so that they can be driven directly.
    void lstFav_Click();
    void cmdDisp_Click();
    void cmdDel_Click();
    void cmdAdd_Click();
    void cmdEnd_Click();


private:
    void Form_Load();
    int HighlightedIndex() const;

    QListWidget *lstFav = nullptr;
    QListWidget *lstAdrs = nullptr;
    QPushButton *cmdDisp = nullptr;
    QPushButton *cmdAdd = nullptr;
    QPushButton *cmdDel = nullptr;
    QPushButton *cmdEnd = nullptr;
    // Fav.fil exists but could not be read: writing the (empty) list over it
    // would lose every favorite, so it is not written.
    bool m_loadFailed = false;
    bool m_changed = false;
};
