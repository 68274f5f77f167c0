// The screen's connection settings and record sets, with their declared fields.
#include "geraarquivo.h"
#include "remotemethods.h"

void TfrmGeraArquivo::createDataComponents()
{
    netGeraArquivo = std::make_unique<TNetConnection>();
    netGeraArquivo->ServerName = QLatin1String(kRemoteObjectName);
    netGeraArquivo->ThrowException = false;
    netGeraArquivo->BeforeConnect = [this](QObject *sender) { netGeraArquivoBeforeConnect(sender); };

    cdsTabelas = std::make_unique<TClientDataSet>();
    dtsTabelas = std::make_unique<TDataSource>(cdsTabelas.get());
    cdsTabelasIDMARCADO = cdsTabelas->AddField(QStringLiteral("IDMARCADO"), TFieldType::ftString, 1);
    cdsTabelasCDPROGTRAD = cdsTabelas->AddField(QStringLiteral("CDPROGTRAD"), TFieldType::ftString, 20);
    cdsTabelasCDPROGTRAD->DisplayLabel = QStringLiteral("Nome");

    cdsIdiomaOri = std::make_unique<TClientDataSet>();
    cdsIdiomaOriIDIDIOMA = cdsIdiomaOri->AddField(QStringLiteral("IDIDIOMA"), TFieldType::ftString, 3);
    cdsIdiomaOriDSIDIOMA = cdsIdiomaOri->AddField(QStringLiteral("DSIDIOMA"), TFieldType::ftString, 30);
    cdsIdiomaOriIDIPROP = cdsIdiomaOri->AddField(QStringLiteral("IDIPROP"), TFieldType::ftString, 3);
    cdsIdiomaOriDTGERIDITRAD = cdsIdiomaOri->AddField(QStringLiteral("DTGERIDITRAD"), TFieldType::ftDateTime);

    cdsLinha = std::make_unique<TClientDataSet>();
    cdsLinhaLINHA = cdsLinha->AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);

    BtnTabelas->DataSource = dtsTabelas.get();
}
