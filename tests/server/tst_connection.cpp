// The screen's creation and close against a real application server, and
// against a fake one where a fault must be injected.
#include "fakeserver.h"
#include "serverprocess.h"

#include <application.h>
#include <busyanimation.h>
#include <checkresultserv.h>
#include <datapacket.h>
#include <geraarquivo.h>
#include <remotemethods.h>
#include <scripteddialogs.h>
#include <serveraddress.h>

#include <QTcpServer>

namespace {

void seedLanguages(QSqlDatabase &db, const QStringList &names)
{
    int id = 0;
    for (const QString &name : names)
        exec(db, QStringLiteral("INSERT INTO IDIOMA (IDIDIOMA, DSIDIOMA) VALUES ('L%1', '%2')").arg(id++).arg(name));
}

QStringList items(const TComboBox &list)
{
    QStringList result;
    for (int i = 0; i < list.count(); ++i)
        result << list.itemText(i);
    return result;
}

QByteArray emptyLanguages()
{
    protocol::DataPacketWriter writer({ { QStringLiteral("IDIDIOMA"), protocol::FieldKind::String, 3 },
                                        { QStringLiteral("DSIDIOMA"), protocol::FieldKind::String, 30 },
                                        { QStringLiteral("IDIPROP"), protocol::FieldKind::String, 3 },
                                        { QStringLiteral("DTGERIDITRAD"), protocol::FieldKind::DateTime, 0 } });
    return protocol::encodeOkResponse(writer.finish(), {});
}

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void languagesInServerOrder_data()
    {
        QTest::addColumn<QStringList>("stored");
        QTest::newRow("C, A, B stay in that order") << QStringList { "C", "A", "B" };
        QTest::newRow("duplicates and blanks kept") << QStringList { "Inglês", "Inglês", " " };
        QTest::newRow("no languages") << QStringList {};
    }
    void languagesInServerOrder()
    {
        QFETCH(QStringList, stored);
        ServerProcess server([&](QSqlDatabase &db) { seedLanguages(db, stored); });
        SetServerAddressOption(server.address());
        TScriptedDialogService dialogs;
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        std::unique_ptr<TfrmGeraArquivo> owned(screen);
        QCOMPARE(items(*screen->cbbIdioma), stored);
        QCOMPARE(screen->cbbIdioma->currentIndex(), -1);
        QVERIFY(screen->cbbIdioma->isEnabled());
        QCOMPARE(screen->depDataIni->Text(), AnsiString());
        QVERIFY(dialogs.records.isEmpty());
        QVERIFY(screen->netGeraArquivo->Connected());
        QVERIFY(!ShowAviVisible());
    }

    void connectFailureIsReportedOnceAndTheScreenOpens()
    {
        QTcpServer closed; // a port nobody listens on
        closed.listen(QHostAddress::LocalHost, 0);
        const quint16 port = closed.serverPort();
        closed.close();
        SetServerAddressOption(QStringLiteral("127.0.0.1:%1").arg(port));
        TScriptedDialogService dialogs;
        const int shownBefore = ShowAviShownCount();
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        std::unique_ptr<TfrmGeraArquivo> owned(screen);
        QVERIFY(screen);
        QCOMPARE(ShowAviShownCount(), shownBefore); // the busy animation never showed
        QCOMPARE(screen->cbbIdioma->count(), 0);
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(dialogs.records.first().kind, TScriptedDialogService::Record::Exception);
    }

    void getIdiomaFailureHidesTheAnimation_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("kind");
        QTest::newRow("server reports a failure")
            << protocol::encodeFailureResponse(QStringLiteral("Banco indisponível."), {})
            << int(TScriptedDialogService::Record::Message);
        QTest::newRow("remote exception")
            << protocol::encodeExceptionResponse(QStringLiteral("EOleException"), QStringLiteral("Falhou."))
            << int(TScriptedDialogService::Record::Exception);
        const QByteArray exception = protocol::encodeExceptionResponse(QStringLiteral("EOleException"), QStringLiteral("Falhou"));
        QTest::newRow("exception cut inside a text")
            << exception.left(exception.indexOf("Falhou") + 2) << int(TScriptedDialogService::Record::Exception);
        QTest::newRow("invalid UTF-8 in the result")
            << protocol::encodeFailureResponse(QStringLiteral("Banco"), {}).replace("Banco", "Ban\xff" "o")
            << int(TScriptedDialogService::Record::Exception);
    }
    void getIdiomaFailureHidesTheAnimation()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, kind);
        FakeServer fake([&](const protocol::Request &) { return answer; });
        SetServerAddressOption(fake.address());
        TScriptedDialogService dialogs;
        const int shownBefore = ShowAviShownCount();
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        std::unique_ptr<TfrmGeraArquivo> owned(screen);
        QCOMPARE(ShowAviShownCount(), shownBefore + 1);
        QVERIFY(!ShowAviVisible());
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(int(dialogs.records.first().kind), kind);
        QCOMPARE(screen->cbbIdioma->count(), 0);
    }

    void addressReadAtEveryConnectAndCloseDisconnects()
    {
        FakeServer first([](const protocol::Request &) { return emptyLanguages(); });
        FakeServer second([](const protocol::Request &) {
            protocol::DataPacketWriter tables({ { QStringLiteral("IDMARCADO"), protocol::FieldKind::String, 1 },
                                                { QStringLiteral("CDPROGTRAD"), protocol::FieldKind::String, 20 } });
            return protocol::encodeOkResponse(tables.finish(), {});
        });
        SetServerAddressOption(first.address());
        TScriptedDialogService dialogs;
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        std::unique_ptr<TfrmGeraArquivo> owned(screen);
        QCOMPARE(first.requests().size(), 1);

        // The base close handling hides the screen: by then the connection is closed.
        struct HideWatch : QObject
        {
            TfrmGeraArquivo *screen;
            std::optional<bool> connectedWhenHidden;
            bool eventFilter(QObject *, QEvent *event) override
            {
                if (event->type() == QEvent::Hide)
                    connectedWhenHidden = screen->netGeraArquivo->Connected();
                return false;
            }
        } watch;
        watch.screen = screen;
        screen->show();
        QVERIFY(screen->netGeraArquivo->Connected());
        screen->installEventFilter(&watch);
        screen->close();
        screen->removeEventFilter(&watch);
        QCOMPARE(watch.connectedWhenHidden, std::optional<bool>(false));
        QVERIFY(!screen->isVisible());

        // Showing again presents the first fetch, with no new call.
        screen->show();
        QCOMPARE(first.requests().size(), 1);
        QCOMPARE(second.requests().size(), 0);

        // The next call reconnects and takes the address anew.
        SetServerAddressOption(second.address());
        GetTabela(*screen->netGeraArquivo, TRemoteArg::byValue(AnsiString()), "T", *screen->cdsTabelas);
        QCOMPARE(second.requests().size(), 1);
        QCOMPARE(second.requests().first().method, QStringLiteral("GetTabela"));
    }

    void byReferenceAndDateArguments()
    {
        FakeServer fake([](const protocol::Request &request) {
            QStringList refs;
            for (const protocol::Argument &argument : request.args) {
                if (argument.kind == protocol::ArgumentKind::StrRef)
                    refs << argument.text + QStringLiteral(" changed");
            }
            protocol::DataPacketWriter writer({ { QStringLiteral("LINHA"), protocol::FieldKind::String, 4000 } });
            writer.addString(QByteArray::number(request.args.value(2).date, 'g', 17));
            return protocol::encodeOkResponse(writer.finish(), refs);
        });
        TNetConnection connection;
        connection.ServerName = QLatin1String(kRemoteObjectName);
        connection.BeforeConnect = [&](QObject *) {
            connection.Host = WebURL();
            connection.Port = WebPort();
        };
        SetServerAddressOption(fake.address());
        TClientDataSet lines;
        lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
        AnsiString list = "PRODUTO";
        const TDateTime since = EncodeDate(2026, 12, 1) + EncodeTime(9, 30);
        GetPropriedCds(connection, "ENG", list, since, lines);
        QCOMPARE(list, AnsiString("PRODUTO changed"));
        QCOMPARE(std::stod(lines.FieldByName(QStringLiteral("LINHA"))->AsString()), since);
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
