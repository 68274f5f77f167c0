#include "hostlib/widgets/rotigeral.h"

#include "runtime/widgets/methodbinding.h"

#include <QStyle>

namespace {
constexpr int kDataWidth = 480;
// The side panel: the button panel's margin and height, the buttons' places in it
// (confirm over cancel), the screen-code label's distance from the bottom and height,
// and the small font of the label and the buttons.
constexpr int kPanelMargin = 2;
constexpr int kButtonPanelHeight = 52;
constexpr int kConfirmTop = 8;
constexpr int kCancelTop = 29;
constexpr int kButtonHeight = 20;
constexpr int kCodeLabelBottom = 18;
constexpr int kCodeLabelHeight = 14;
constexpr int kSmallFontPixels = 9;
}

TfrmRotiGeral::TfrmRotiGeral(QWidget *parent)
    : TForm(parent)
    , grbDadosRel(new TGroupBox(this))
    , panMenu(new TPanel(this))
    , lblCodTela(new TLabel(panMenu))
    , panBotoes(new TPanel(panMenu))
    , sbtConfirma(new TButtonFlat(panBotoes))
    , sbtCancel(new TButtonFlat(panBotoes))
{
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setModal(true);
    panBotoes->setFrameStyle(QFrame::NoFrame);
    grbDadosRel->setObjectName(QStringLiteral("grbDadosRel"));
    panMenu->setObjectName(QStringLiteral("panMenu"));
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    panBotoes->setObjectName(QStringLiteral("panBotoes"));
    sbtConfirma->setObjectName(QStringLiteral("sbtConfirma"));
    sbtCancel->setObjectName(QStringLiteral("sbtCancel"));

    sbtConfirma->setText(QStringLiteral("&Confirmar"));
    sbtConfirma->setShortcut(QKeySequence(QStringLiteral("Alt+C")));
    sbtConfirma->setToolButtonStyle(Qt::ToolButtonTextOnly);
    sbtCancel->setText(QStringLiteral("Ca&ncelar"));
    sbtCancel->setShortcut(QKeySequence(QStringLiteral("Alt+N")));
    sbtCancel->setToolButtonStyle(Qt::ToolButtonTextOnly);
    sbtCancel->OnClick = [this](QObject *) { close(); };

    lblCodTela->setAlignment(Qt::AlignCenter);
    const QFont screenFont = ScreenFont();
    setFont(screenFont);
    QFont small = screenFont;
    small.setPixelSize(kSmallFontPixels);
    lblCodTela->setFont(small);
    sbtConfirma->setFont(small);
    sbtCancel->setFont(small);
}

void TfrmRotiGeral::FormClose(QObject *, TCloseAction &Action)
{
    Action = TCloseAction::caHide;
}

void TfrmRotiGeral::SetClientSize(int width, int height)
{
    setFixedSize(width, height);
    layOut(width, height);
}

void TfrmRotiGeral::BindFormHandlers()
{
    OnCreate = NotifyHandlerByName(this, "FormCreate");
    OnClose = CloseHandlerByName(this, "FormClose");
}

void TfrmRotiGeral::layOut(int width, int height)
{
    grbDadosRel->setGeometry(0, 0, kDataWidth, height);
    panMenu->setGeometry(kDataWidth, 0, width - kDataWidth, height);
    const int sideWidth = width - kDataWidth;
    const int buttonWidth = sideWidth - 2 * kPanelMargin;
    panBotoes->setGeometry(kPanelMargin, kPanelMargin, buttonWidth, kButtonPanelHeight);
    sbtConfirma->setGeometry(0, kConfirmTop, buttonWidth, kButtonHeight);
    sbtCancel->setGeometry(0, kCancelTop, buttonWidth, kButtonHeight);
    lblCodTela->setGeometry(1, height - kCodeLabelBottom, sideWidth - 2, kCodeLabelHeight);
}
