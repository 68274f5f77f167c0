#pragma once

#include "hostlib/widgets/buttons.h"
#include "hostlib/widgets/messages.h"

#include "runtime/widgets/form.h"
#include "runtime/widgets/staticcontrols.h"

// The base screen: the screen-code label, the data group box on the left, the
// side panel with confirm and cancel, and the message catalogue. Its form binds
// creation and close to the handlers named FormCreate and FormClose.
class QLX_EXPORT TfrmRotiGeral : public TForm
{
    Q_OBJECT

public:
    explicit TfrmRotiGeral(QWidget *parent = nullptr);

    // The base close handling: the screen is hidden and the instance kept.
    Q_INVOKABLE void FormClose(QObject *Sender, TCloseAction &Action);

    TGroupBox *grbDadosRel;
    TPanel *panMenu;
    TLabel *lblCodTela;
    TPanel *panBotoes;
    TButtonFlat *sbtConfirma;
    TButtonFlat *sbtCancel;
    TMessages msgPadrao;

protected:
    // Sizes the client area; the data group box and the side panel follow.
    void SetClientSize(int width, int height);
    // Binds creation and close to the handlers of those names, as the base form does.
    void BindFormHandlers();

private:
    void layOut(int width, int height);
};
