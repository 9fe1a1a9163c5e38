#pragma once

#include <QDialog>

// The settings dialog, shown modally from the browser's "Utl".
class frmUtl : public QDialog
{
    Q_OBJECT

public:
    explicit frmUtl(QWidget *parent = nullptr);
    ~frmUtl() override;
};
