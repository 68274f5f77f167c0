#include "mainwindow.h"

#include <application.h>
#include <exceptions.h>

#include <QLabel>
#include <QMenuBar>
#include <dlfcn.h>

MainWindow::MainWindow(HMODULE module, QWidget *parent)
    : QMainWindow(parent)
    , m_iniProc(reinterpret_cast<void (*)()>(dlsym(module, "IniProc")))
{
    setWindowTitle(QStringLiteral("QLX - Cliente"));
    resize(800, 500);
    auto *menu = menuBar()->addMenu(QStringLiteral("&Módulos"));
    QAction *open = menu->addAction(QStringLiteral("&Geração do Arquivo de Tradução das Tabelas"));
    connect(open, &QAction::triggered, this, &MainWindow::openScreen);
    menu->addSeparator();
    menu->addAction(QStringLiteral("&Sair"), this, &QWidget::close);
    auto *welcome = new QLabel(QStringLiteral("Escolha uma tela no menu Módulos."), this);
    welcome->setAlignment(Qt::AlignCenter);
    setCentralWidget(welcome);
}

void MainWindow::openScreen()
{
    if (!m_iniProc) {
        Application().HandleException(Exception(QStringLiteral("O módulo não exporta IniProc.")));
        return;
    }
    DispatchEvent(m_iniProc);
}
