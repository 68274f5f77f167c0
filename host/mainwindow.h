#pragma once

#include "runtime/widgets/package.h"

#include <QMainWindow>

// The desktop client's main window: a menu entry opens the screen of the loaded
// module, another (Ajuda, Sobre) shows the module's version record.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(HMODULE module, QWidget *parent = nullptr);

    // Calls the module's IniProc; a failure that passes out of it is reported.
    void openScreen();
    // Shows the loaded module's version record.
    void showAbout();

private:
    HMODULE m_module;
    void (*m_iniProc)() = nullptr;
};
