#include "screen/geraarquivo.h"

#include <QFile>
#include <QStyle>

// The screen's message catalogue, stored with it in Windows-1252.
static QByteArray catalogueLines()
{
    Q_INIT_RESOURCE(messages);
    QFile file(QStringLiteral(":/qlx02600/messages.cp1252"));
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

namespace {

template <class Control>
Control *placed(const char *name, Control *control, int left, int top, int width, int height)
{
    control->setObjectName(QLatin1String(name));
    control->setGeometry(left, top, width, height);
    return control;
}

TLabel *boldLabel(const char *name, const char *caption, QWidget *parent, int left, int top, int width)
{
    auto *label = placed(name, new TLabel(QString::fromUtf8(caption), parent), left, top, width, 13);
    label->setFont(OwnBoldFont());
    // A substitute face may be wider than the original one: never cut the caption.
    label->resize(qMax(width, label->sizeHint().width()), 13);
    return label;
}

} // namespace

TfrmGeraArquivo::TfrmGeraArquivo(QWidget *parent)
    : TfrmRotiGeral(parent)
{
    setWindowTitle(QStringLiteral("Geração do Arquivo de Tradução das Tabelas"));
    move(240, 274);
    SetClientSize(535, 113);
    lblCodTela->setText(QStringLiteral("QLX02600"));
    msgPadrao.LoadFromBytes(catalogueLines());
    createControls();
    createDataComponents();
    wireEvents();
    BindFormHandlers();
}

void TfrmGeraArquivo::createControls()
{
    QWidget *group = grbDadosRel;
    Label1 = boldLabel("Label1", "Idioma", group, 5, 26, 38);
    Label2 = boldLabel("Label2", "Itens alterados a partir de:", group, 5, 56, 151);

    rdgTabelas = placed("rdgTabelas", new TRadioGroup(group), 328, 11, 145, 63);
    rdgTabelas->setTitle(QStringLiteral("Tabelas"));
    rdgTabelas->setFont(OwnBoldFont());

    rbtTodos = placed("rbtTodos", new TRadioButton(QStringLiteral("Todos"), group), 342, 26, 59, 17);
    rbtTodos->setFont(OwnBoldFont());
    rbtTodos->SetChecked(true);
    rbtLista = placed("rbtLista", new TRadioButton(QStringLiteral("Lista"), group), 342, 49, 59, 17);
    rbtLista->setFont(OwnBoldFont());

    BtnTabelas = placed("BtnTabelas", new TBtnPesquisa(group), 408, 48, 20, 21);
    BtnTabelas->setToolTip(QStringLiteral("Pesquisar"));
    BtnTabelas->setEnabled(false);
    BtnTabelas->Associate = rdgTabelas;
    BtnTabelas->Title = QStringLiteral("Tabelas");
    BtnTabelas->EmptyError = QStringLiteral("Não há tabelas cadastradas.");

    depDataIni = placed("depDataIni", new TDateEditPlus(group), 164, 48, 96, 21);
    SetInfoBackground(depDataIni);
    depDataIni->ValidDateColor = Qt::blue;
    depDataIni->NomeSemana = { QStringLiteral("Domingo"), QStringLiteral("Segunda"), QStringLiteral("Terça"),
                               QStringLiteral("Quarta"), QStringLiteral("Quinta"), QStringLiteral("Sexta"),
                               QStringLiteral("Sábado") };
    depDataIni->SaveTime = false;

    medItems = placed("medItems", new TMaskEdit(QStringLiteral("99:99;0; "), group), 264, 48, 51, 21);
    SetInfoBackground(medItems);

    Label3 = boldLabel("Label3", "Diretório para geração", group, 5, 91, 128);

    edtDiretorio = placed("edtDiretorio", new TEdit(group), 164, 87, 283, 21);
    SetInfoBackground(edtDiretorio);

    cbbIdioma = placed("cbbIdioma", new TComboBox(group), 165, 23, 150, 21);
    SetInfoBackground(cbbIdioma);
    cbbIdioma->SetItemHeight(13);

    Bevel1 = placed("Bevel1", new TBevel(group), 2, 15, 476, 66);
    Bevel1->lower();

    sbtDiretorio = placed("sbtDiretorio", new TButtonFlat(group), 452, 87, 22, 22);
    sbtDiretorio->SetGlyph(style()->standardIcon(QStyle::SP_DirOpenIcon));

    // What a screen reader says of each control: the label beside it, the button's hint.
    cbbIdioma->setAccessibleName(Label1->text());
    depDataIni->setAccessibleName(Label2->text());
    medItems->setAccessibleName(QStringLiteral("Hora"));
    edtDiretorio->setAccessibleName(Label3->text());
    BtnTabelas->setAccessibleName(BtnTabelas->toolTip());
    sbtDiretorio->setAccessibleName(QStringLiteral("Selecionar diretório"));

    // Tab order: checked scope button, date, time, directory, language.
    QWidget::setTabOrder(rbtTodos, rbtLista);
    QWidget::setTabOrder(rbtLista, depDataIni);
    QWidget::setTabOrder(depDataIni, medItems);
    QWidget::setTabOrder(medItems, edtDiretorio);
    QWidget::setTabOrder(edtDiretorio, cbbIdioma);
}

void TfrmGeraArquivo::wireEvents()
{
    OnActivate = [this](QObject *sender) { FormActivate(sender); };
    rbtTodos->OnClick = [this](QObject *sender) { rbtTodosClick(sender); };
    rbtLista->OnClick = [this](QObject *sender) { rbtListaClick(sender); };
    rbtLista->OnKeyDown = [this](QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) {
        rbtListaKeyDown(sender, key, shift);
    };
    BtnTabelas->OnClick = [this](QObject *sender) { BtnTabelasClick(sender); };
    depDataIni->OnExit = [this](QObject *sender) { depDataIniExit(sender); };
    medItems->OnChange = [this](QObject *sender) { medItemsChange(sender); };
    medItems->OnExit = [this](QObject *sender) { medItemsExit(sender); };
    edtDiretorio->OnExit = [this](QObject *sender) { edtDiretorioExit(sender); };
    edtDiretorio->OnKeyDown = [this](QObject *sender, quint16 &key, Qt::KeyboardModifiers shift) {
        edtDiretorioKeyDown(sender, key, shift);
    };
    sbtDiretorio->OnClick = [this](QObject *sender) { sbtDiretorioClick(sender); };
    sbtConfirma->OnClick = [this](QObject *sender) { sbtConfirmaClick(sender); };
}

void TfrmGeraArquivo::FormActivate(QObject *)
{
    cbbIdioma->setFocus();
}
