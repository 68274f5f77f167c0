#pragma once

// The screen created as the module creates it, shown and active, with scripted
// dialogs and a scratch directory.
#include "hostlib/core/serveraddress.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/scripteddialogs.h"
#include "screen/geraarquivo.h"

#include <QTemporaryDir>
#include <QTest>

struct ScreenFixture
{
    TScriptedDialogService dialogs;
    TfrmGeraArquivo *form = nullptr;
    QTemporaryDir dir;

    explicit ScreenFixture(const QString &server)
    {
        SetServerAddressOption(server);
        Application().CreateForm(form);
        form->show();
        form->activateWindow();
        if (!QTest::qWaitForWindowActive(form))
            qWarning("the screen did not become active");
        // A screen that could not load its languages says so in a box; the rows
        // that follow would fail for a reason of their own.
        if (!dialogs.texts().isEmpty())
            qWarning("opening the screen showed: %s", qPrintable(dialogs.texts().join(QLatin1String(" | "))));
        dialogs.clear();
    }
    ~ScreenFixture() { delete form; }

    void fill(int language, const char *date, const char *time, const QString &directory)
    {
        form->cbbIdioma->setCurrentIndex(language);
        form->depDataIni->SetText(date);
        form->medItems->SetText(time);
        form->edtDiretorio->SetText(Ansi::fromUnicode(directory));
    }
    void confirm() { DispatchEvent([this] { form->sbtConfirmaClick(form->sbtConfirma); }); }
};
