#include "host/mainwindow.h"

#include "runtime/core/dialogs.h"
#include "runtime/core/exceptions.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/versioninfo.h"

#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <dlfcn.h>

// The main window's first size, room for the screen the module opens over it.
constexpr QSize kFirstSize(800, 500);

MainWindow::MainWindow(HMODULE module, QWidget *parent)
    : QMainWindow(parent)
    , m_module(module)
    , m_iniProc(reinterpret_cast<void (*)()>(dlsym(module, "IniProc")))
{
    setWindowTitle(QStringLiteral("QLX - Cliente"));
    resize(kFirstSize);
    auto *menu = menuBar()->addMenu(QStringLiteral("&Módulos"));
    QAction *open = menu->addAction(QStringLiteral("&Geração do Arquivo de Tradução das Tabelas"));
    connect(open, &QAction::triggered, this, &MainWindow::openScreen);
    menu->addSeparator();
    menu->addAction(QStringLiteral("&Sair"), this, &QWidget::close);
    QMenu *help = menuBar()->addMenu(QStringLiteral("&Ajuda"));
    help->addAction(QStringLiteral("&Sobre"), this, &MainWindow::showAbout);
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

void MainWindow::showAbout()
{
    const QString version = ModuleVersionText(m_module);
    MessageDlg(version.isEmpty() ? QStringLiteral("O módulo carregado não tem registro de versão.") : version,
               TMsgDlgType::Information, mbOK, 0);
}
