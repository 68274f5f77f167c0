// The screen's connection settings and record sets, with their declared fields.
#include "client/recordsetfields.h"
#include "client/remotemethods.h"
#include "protocol/contract.h"
#include "screen/geraarquivo.h"

#include "hostlib/widgets/busyanimation.h"

void TfrmGeraArquivo::createDataComponents()
{
    netGeraArquivo = std::make_unique<TNetConnection>();
    netGeraArquivo->ServerName = QLatin1String(protocol::contract::kObjectName);
    netGeraArquivo->ThrowException = false;
    netGeraArquivo->BeforeConnect = [this](QObject *sender) { netGeraArquivoBeforeConnect(sender); };
    netGeraArquivo->OnServerSwitch = ShowAviReconnecting;

    cdsTabelas = std::make_unique<TClientDataSet>();
    dtsTabelas = std::make_unique<TDataSource>(cdsTabelas.get());
    const TableFields tables = DeclareTableFields(*cdsTabelas);
    cdsTabelasIDMARCADO = tables.IDMARCADO;
    cdsTabelasCDPROGTRAD = tables.CDPROGTRAD;

    cdsIdiomaOri = std::make_unique<TClientDataSet>();
    const LanguageFields languages = DeclareLanguageFields(*cdsIdiomaOri);
    cdsIdiomaOriIDIDIOMA = languages.IDIDIOMA;
    cdsIdiomaOriDSIDIOMA = languages.DSIDIOMA;
    cdsIdiomaOriIDIPROP = languages.IDIPROP;
    cdsIdiomaOriDTGERIDITRAD = languages.DTGERIDITRAD;

    cdsLinha = std::make_unique<TClientDataSet>();
    cdsLinhaLINHA = DeclareLineField(*cdsLinha);

    BtnTabelas->DataSource = dtsTabelas.get();
}
