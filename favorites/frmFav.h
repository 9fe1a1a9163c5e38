#pragma once

#include <QDialog>

// The favorites window, shown modally from the browser's "MyFav".
class frmFav : public QDialog
{
    Q_OBJECT

public:
    explicit frmFav(QWidget *parent = nullptr);
    ~frmFav() override;
};
