#pragma once

#include "hostlib/core/netconnection.h"
#include "hostlib/widgets/dateeditplus.h"
#include "hostlib/widgets/rotigeral.h"
#include "runtime/core/ansistring.h"
#include "runtime/core/clientdataset.h"
#include "runtime/widgets/combobox.h"
#include "runtime/widgets/datasource.h"
#include "runtime/widgets/edit.h"
#include "runtime/widgets/maskedit.h"
#include "runtime/widgets/radiobutton.h"

// The screen "Geração do Arquivo de Tradução das Tabelas": a language, a date and
// time from which changed items are wanted, all tables or a picked list, and a
// directory; confirm writes the translation script.
class QLX_EXPORT TfrmGeraArquivo : public TfrmRotiGeral
{
    Q_OBJECT

public:
    explicit TfrmGeraArquivo(QWidget *parent = nullptr);

    TLabel *Label1;
    TLabel *Label2;
    TRadioGroup *rdgTabelas;
    TRadioButton *rbtTodos;
    TRadioButton *rbtLista;
    TBtnPesquisa *BtnTabelas;
    TDateEditPlus *depDataIni;
    TMaskEdit *medItems;
    TLabel *Label3;
    TEdit *edtDiretorio;
    TComboBox *cbbIdioma;
    TBevel *Bevel1;
    TButtonFlat *sbtDiretorio;
    std::unique_ptr<TNetConnection> netGeraArquivo;
    std::unique_ptr<TClientDataSet> cdsTabelas;
    std::unique_ptr<TDataSource> dtsTabelas;
    TField *cdsTabelasIDMARCADO;
    TField *cdsTabelasCDPROGTRAD;
    std::unique_ptr<TClientDataSet> cdsIdiomaOri;
    TField *cdsIdiomaOriIDIDIOMA;
    TField *cdsIdiomaOriDSIDIOMA;
    TField *cdsIdiomaOriIDIPROP;
    TField *cdsIdiomaOriDTGERIDITRAD;
    std::unique_ptr<TClientDataSet> cdsLinha;
    TField *cdsLinhaLINHA;

    // Event handlers.
    void depDataIniExit(QObject *Sender);
    void sbtDiretorioClick(QObject *Sender);
    void sbtConfirmaClick(QObject *Sender);
    void medItemsExit(QObject *Sender);
    void edtDiretorioKeyDown(QObject *Sender, quint16 &Key, Qt::KeyboardModifiers Shift);
    void edtDiretorioExit(QObject *Sender);
    void medItemsChange(QObject *Sender);
    void netGeraArquivoBeforeConnect(QObject *Sender);
    Q_INVOKABLE void FormCreate(QObject *Sender);
    Q_INVOKABLE void FormClose(QObject *Sender, TCloseAction &Action);
    void BtnTabelasClick(QObject *Sender);
    void rbtListaClick(QObject *Sender);
    void rbtListaKeyDown(QObject *Sender, quint16 &Key, Qt::KeyboardModifiers Shift);
    void rbtTodosClick(QObject *Sender);
    void FormActivate(QObject *Sender);
    // Asked from the busy window during the fetch of the lines: on yes the fetch
    // ends and nothing is written.
    void CancelaGeracao();

    // Checks of the inputs and the time normalisation.
    void Vd_Idioma(bool reportEmpty);
    void Vd_DataHora(bool reportEmpty);
    void Vd_Diretorio(bool reportEmpty);
    void Vd_Tabela();
    AnsiString Ajusta_Hora(const AnsiString &time, TMaskEdit *edit);

    // The file stage of the generation run.
    void Grava_Arquivo(TDateTime startMoment);

    const AnsiString &ListaTabelas() const { return stListaTabelas; }

private:
    void createControls();
    void createDataComponents();
    void wireEvents();

    AnsiString stListaTabelas;
};
