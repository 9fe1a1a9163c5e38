#pragma once

#include <QMainWindow>

// The file getter window, opened without blocking from the browser's "Fget".
class frmLoad : public QMainWindow
{
    Q_OBJECT

public:
    explicit frmLoad(QWidget *parent = nullptr);
    ~frmLoad() override;

    // Opens the getter on TargetURL without blocking and returns it.
    static frmLoad *Open(QWidget *parent = nullptr);
    // The open getter window, or nullptr.
    static frmLoad *Current();

    // Unload from the program's code (the browser's "Exit" and "Abort"): the
    // window closes at once; a running search or download unwinds safely.
    void Unload();
};
