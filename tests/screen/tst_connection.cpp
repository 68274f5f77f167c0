// The screen's creation and close against a real application server, and
// against a fake one where a fault must be injected.
#include "tests/support/busywindowshows.h"
#include "tests/support/fakeappserver.h"
#include "tests/support/fakeserver.h"
#include "tests/support/serverprocess.h"

#include "client/recordsetfields.h"
#include "client/remotemethods.h"
#include "hostlib/core/answerlimit.h"
#include "hostlib/core/checkresultserv.h"
#include "hostlib/core/receivedlines.h"
#include "hostlib/core/serveraddress.h"
#include "hostlib/core/serverorder.h"
#include "hostlib/core/servertimeout.h"
#include "hostlib/widgets/busyanimation.h"
#include "protocol/contract.h"
#include "protocol/datapacket.h"
#include "runtime/core/exceptions.h"
#include "runtime/widgets/application.h"
#include "runtime/widgets/scripteddialogs.h"
#include "screen/geraarquivo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSettings>
#include <QTcpSocket>
#include <QThread>
#include <QTcpServer>
#include <array>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port whose listener never accepts and whose backlog is full: a
// connect to it neither succeeds nor fails.
struct FullBacklog
{
    FullBacklog()
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(listener, 0);
        socklen_t length = sizeof address;
        ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length);
        port = ntohs(address.sin_port);
        for (auto &socket : queued) {
            socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
            socket->waitForConnected(200);
        }
    }
    ~FullBacklog() { ::close(listener); }
    FullBacklog(const FullBacklog &) = delete;
    FullBacklog &operator=(const FullBacklog &) = delete;

    int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    std::array<std::unique_ptr<QTcpSocket>, 3> queued;
};

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

QByteArray linesPacket(const QByteArrayList &lines, const QString &field = QStringLiteral("LINHA"))
{
    protocol::DataPacketWriter writer({ { field, protocol::FieldKind::String, 4000 } });
    for (const QByteArray &line : lines)
        writer.addString(line);
    return writer.finish();
}

QByteArray part(const QByteArrayList &lines) { return protocol::encodePart(linesPacket(lines)); }
QByteArray linesOk(const QByteArrayList &lines) { return protocol::encodeOkResponse(linesPacket(lines), { QString() }); }

// A loopback address nobody listens on.
QString closedAddress()
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost, 0);
    return QStringLiteral("127.0.0.1:%1").arg(closed.serverPort());
}

// A connection that takes its server from the settings at every connect, as the screen's does.
struct ConfiguredConnection : TNetConnection
{
    ConfiguredConnection()
    {
        ServerName = QLatin1String(protocol::contract::kObjectName);
        BeforeConnect = [this](QObject *) {
            Host = WebURL();
            Port = WebPort();
        };
    }
};

QByteArrayList values(TClientDataSet &set, TField &field)
{
    QByteArrayList result;
    for (set.First(); !set.Eof(); set.Next())
        result << QByteArray::fromStdString(field.AsString());
    return result;
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
        BusyWindowShows shown;
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        std::unique_ptr<TfrmGeraArquivo> owned(screen);
        QVERIFY(screen);
        QCOMPARE(shown.count, 0); // the busy animation never showed
        QCOMPARE(screen->cbbIdioma->count(), 0);
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(dialogs.records.first().kind, TScriptedDialogService::Record::Exception);
    }

    // Opening the screen waits for the connect and the languages: Esc on the busy
    // window and Sim end the wait silently, and the screen opens without languages.
    void cancelWhileOpening_data()
    {
        QTest::addColumn<bool>("connectHangs");
        QTest::newRow("a connect nobody accepts") << true;
        QTest::newRow("languages that come slowly") << false;
    }
    void cancelWhileOpening()
    {
        QFETCH(bool, connectHangs);
        FakeServer fake([](const protocol::Request &) {
            QThread::msleep(5 * kBusyAfterMs);
            return protocol::encodeFailureResponse(QStringLiteral("tarde"), {});
        });
        const FullBacklog hanging;
        SetServerAddressOption(connectHangs ? QStringLiteral("127.0.0.1:%1").arg(hanging.port) : fake.address());
        TScriptedDialogService dialogs;
        dialogs.answers = { int(mrYes) };
        EscapeOnBusyWindow escape;
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        std::unique_ptr<TfrmGeraArquivo> owned(screen);
        QVERIFY(escape.pressed);
        QVERIFY(!ShowAviVisible());
        QCOMPARE(dialogs.texts(), QStringList { QStringLiteral("Deseja cancelar a geração do arquivo?") });
        QCOMPARE(screen->cbbIdioma->count(), 0);
        QVERIFY(!screen->netGeraArquivo->Connected());
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
        BusyWindowShows shown;
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        std::unique_ptr<TfrmGeraArquivo> owned(screen);
        QCOMPARE(shown.count, 1);
        QVERIFY(!ShowAviVisible());
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(int(dialogs.records.first().kind), kind);
        QCOMPARE(screen->cbbIdioma->count(), 0);
    }

    void answersInParts_data()
    {
        QTest::addColumn<QByteArrayList>("frames");
        QTest::addColumn<QByteArrayList>("loaded");
        QTest::addColumn<QString>("failure"); // a text of the error shown or raised; empty for none
        QTest::newRow("one frame") << QByteArrayList { linesOk({ "A", "B" }) } << QByteArrayList { "A", "B" } << QString();
        QTest::newRow("parts, then the last rows")
            << QByteArrayList { part({ "A", "B" }), part({ "C" }), linesOk({ "D" }) } << QByteArrayList { "A", "B", "C", "D" }
            << QString();
        QTest::newRow("parts, then no more rows")
            << QByteArrayList { part({ "A" }), linesOk({}) } << QByteArrayList { "A" } << QString();
        QTest::newRow("failure after parts")
            << QByteArrayList { part({ "A" }), protocol::encodeFailureResponse(QStringLiteral("Linha longa demais."), { QString() }) }
            << QByteArrayList { "OLD" } << QStringLiteral("Linha longa demais.");
        QTest::newRow("exception after parts")
            << QByteArrayList { part({ "A" }), protocol::encodeExceptionResponse(QStringLiteral("EDatabaseError"), QStringLiteral("disco")) }
            << QByteArrayList { "OLD" } << QStringLiteral("disco");
        QTest::newRow("part without the declared field")
            << QByteArrayList { protocol::encodePart(linesPacket({ "A" }, QStringLiteral("OUTRO"))), linesOk({}) }
            << QByteArrayList { "OLD" } << QStringLiteral("'LINHA' não encontrado");
    }
    void answersInParts()
    {
        QFETCH(QByteArrayList, frames);
        QFETCH(QByteArrayList, loaded);
        QFETCH(QString, failure);
        FakeServer fake([&](const protocol::Request &request) {
            return request.method == QLatin1String("GetPropriedCds") ? frames : QByteArrayList { linesOk({ "OLD" }) };
        });
        TNetConnection connection;
        const int port = fake.address().section(QLatin1Char(':'), 1).toInt();
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = port;
        TClientDataSet lines;
        TField *line = lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
        CallRemote(connection, QStringLiteral("Earlier"), {}, lines);
        TScriptedDialogService dialogs;
        BusyWindowShows shown;
        AnsiString list;
        QString raised;
        try {
            TBusyProgress progress;
            GetPropriedCds(connection, "ENG", list, 0, lines, std::ref(progress));
        } catch (const ::Exception &error) {
            raised = error.message();
        }
        for (const auto &record : dialogs.records)
            raised += record.text;
        QVERIFY2(failure.isEmpty() ? raised.isEmpty() : raised.contains(failure), qPrintable(raised));
        QCOMPARE(values(lines, *line), loaded);
        QCOMPARE(shown.count, 1); // up from the start of the fetch
        QVERIFY(!ShowAviVisible());
    }

    // One part of some thousands of lines, sent in slices over about two seconds:
    // the count follows the lines whole so far, before the part is.
    void progressFollowsThePartAsItArrives()
    {
        constexpr int kLines = 4000;
        QByteArrayList sent;
        for (int i = 0; i < kLines; ++i)
            sent << QByteArray("INSERT INTO TRADUCAO VALUES ('TAB', 'K") + QByteArray::number(i) + "', 'DSNOME', 'ENG');";
        const QByteArray partFrame = protocol::frameOf(part(sent));
        FakeServer fake([&](const protocol::Request &) { return QByteArrayList { part(sent), linesOk({}) }; });
        fake.setPace(std::chrono::milliseconds(20), partFrame.size() / 100 + 1);
        TNetConnection connection;
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = fake.address().section(QLatin1Char(':'), 1).toInt();
        TClientDataSet lines;
        lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
        QList<qsizetype> counts;
        AnsiString list;
        GetPropriedCds(connection, "ENG", list, 0, lines, [&](qsizetype records) { counts << records; });
        QCOMPARE(lines.RecordCount(), kLines);
        QVERIFY(!counts.isEmpty());
        QCOMPARE(counts.last(), kLines);
        const QList<qsizetype> beforeWhole = counts.first(counts.size() - 1);
        QVERIFY2(beforeWhole.size() >= 3, qPrintable(QStringLiteral("%1 counts before the part was whole").arg(beforeWhole.size())));
        for (qsizetype i = 0; i < beforeWhole.size(); ++i) {
            QVERIFY2(beforeWhole.at(i) > 0 && beforeWhole.at(i) < kLines, qPrintable(QString::number(beforeWhole.at(i))));
            if (i > 0)
                QVERIFY(beforeWhole.at(i) > beforeWhole.at(i - 1));
        }
    }

    void answerOverTheMemoryLimitIsRefusedAndTheNextCallWorks()
    {
        int calls = 0;
        FakeServer fake([&](const protocol::Request &) {
            if (++calls > 1)
                return QByteArrayList { linesOk({ "NEXT" }) };
            QByteArrayList frames;
            for (int i = 0; i < 400; ++i) // 1.2 MB in all
                frames << part({ QByteArray(3000, 'x') });
            return frames << linesOk({});
        });
        TNetConnection connection;
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = fake.address().section(QLatin1Char(':'), 1).toInt();
        connection.AnswerLimit = qint64(1) << 20;
        TClientDataSet lines;
        TField *line = lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
        AnsiString list;
        try {
            GetPropriedCds(connection, "ENG", list, 0, lines);
            QFAIL("the answer was taken whole");
        } catch (const EDatabaseError &error) {
            QVERIFY2(error.message().contains(QStringLiteral("limite de memória de 1 MiB")), qPrintable(error.message()));
        }
        QVERIFY(!connection.Connected()); // the rest of the answer is not waited for
        QVERIFY(lines.IsEmpty());
        GetPropriedCds(connection, "ENG", list, 0, lines);
        QCOMPARE(values(lines, *line), QByteArrayList { "NEXT" });
    }

    void answerLimitCheckedAsTheBytesArrive_data()
    {
        QTest::addColumn<QByteArray>("bytes"); // sent as they are
        QTest::addColumn<QString>("detail");
        // A header stating 64 MiB and the first byte of a message, nothing more:
        // refused before any wait for the rest.
        QTest::newRow("frame declared over the limit") << protocol::frameHeader(qint64(64) << 20) + QByteArray(1, '\xa3')
                                                        << QStringLiteral("um quadro de 67108864 bytes");
        // Under 1 MiB on the wire, several MiB decoded (one index entry a row).
        protocol::DataPacketWriter nulls({ { QStringLiteral("LINHA"), protocol::FieldKind::String, 4000 } });
        for (int row = 0; row < 300'000; ++row)
            nulls.addNull();
        const QByteArray part = protocol::frameOf(protocol::encodePart(nulls.finish()));
        QVERIFY(part.size() < (1 << 20));
        QTest::newRow("one part decoding past the limit") << part << QStringLiteral("registros recebidos");
    }
    void answerLimitCheckedAsTheBytesArrive()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, detail);
        FakeServer fake([&](const protocol::Request &) { return QByteArrayList { bytes }; });
        fake.setUnframed(true);
        TNetConnection connection;
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = fake.address().section(QLatin1Char(':'), 1).toInt();
        connection.Timeout = 5; // the rest never comes: only the check ends the call in time
        connection.AnswerLimit = qint64(1) << 20;
        TClientDataSet lines;
        lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
        AnsiString list;
        QString message;
        try {
            GetPropriedCds(connection, "ENG", list, 0, lines);
        } catch (const ::Exception &error) {
            message = error.message();
        }
        QVERIFY2(message.contains(QStringLiteral("limite de memória de 1 MiB")), qPrintable(message));
        QVERIFY2(message.contains(detail), qPrintable(message));
        const QRegularExpressionMatch received = QRegularExpression(QStringLiteral("\\((\\d+) registros")).match(message);
        if (received.hasMatch()) // stopped in the middle of the part
            QVERIFY2(received.captured(1).toInt() < 300'000, qPrintable(message));
        QVERIFY(!connection.Connected());
        QVERIFY(lines.IsEmpty());
    }

    // A header stating a long frame, and nothing after it: the client takes memory for
    // the bytes that come, not for the length stated, while it waits for the rest.
    void aLongHeaderAloneTakesNoMemory()
    {
        const auto addressSpaceKiB = [] {
            QFile status(QStringLiteral("/proc/self/status"));
            status.open(QIODevice::ReadOnly);
            for (const QByteArray &line : status.readAll().split('\n')) {
                if (line.startsWith("VmSize:"))
                    return line.mid(7).simplified().split(' ').value(0).toLongLong();
            }
            return qint64(-1);
        };
        // Just under the 1 GiB frame limit, and the first byte of an answer.
        FakeServer fake([&](const protocol::Request &) { return QByteArrayList { QByteArray::fromHex("3fffffffa2") }; });
        fake.setUnframed(true);
        TNetConnection connection;
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = fake.address().section(QLatin1Char(':'), 1).toInt();
        connection.Timeout = 2; // the rest never comes
        connection.SetConnected(true);
        const qint64 before = addressSpaceKiB();
        qint64 most = before;
        QTimer sample; // while the call waits for the rest
        connect(&sample, &QTimer::timeout, this, [&] { most = std::max(most, addressSpaceKiB()); });
        sample.start(10);
        TClientDataSet languages;
        DeclareLanguageFields(languages);
        QString message;
        try {
            GetIdioma(connection, languages);
        } catch (const ::Exception &error) {
            message = error.message();
        }
        QVERIFY2(message.contains(QStringLiteral("não respondeu em 2 segundos")), qPrintable(message));
        // The fake server's thread takes its own arena meanwhile: far under the GiB stated all the same.
        QVERIFY2(most - before < 384 * 1024, qPrintable(QStringLiteral("%1 KiB more address space").arg(most - before)));
    }

    void bytesAfterTheFinalFrameAnswerNoCall()
    {
        int calls = 0;
        FakeServer fake([&](const protocol::Request &) {
            if (++calls == 1)
                return QByteArrayList { linesOk({ "FIRST" }), part({ "STRAY" }) };
            return QByteArrayList { linesOk({ "SECOND" }) };
        });
        TNetConnection connection;
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = fake.address().section(QLatin1Char(':'), 1).toInt();
        TClientDataSet lines;
        TField *line = lines.AddField(QStringLiteral("LINHA"), TFieldType::ftString, 4000);
        AnsiString list;
        GetPropriedCds(connection, "ENG", list, 0, lines);
        QCOMPARE(values(lines, *line), QByteArrayList { "FIRST" });
        GetPropriedCds(connection, "ENG", list, 0, lines);
        QCOMPARE(values(lines, *line), QByteArrayList { "SECOND" });
        QCOMPARE(fake.connections(), 2); // the connection that carried them was dropped
    }

    void partsRefusedWhereOneFrameIsExpected()
    {
        FakeServer fake([&](const protocol::Request &) { return QByteArrayList { part({ "A" }), linesOk({}) }; });
        TNetConnection connection;
        connection.Host = QStringLiteral("127.0.0.1");
        connection.Port = fake.address().section(QLatin1Char(':'), 1).toInt();
        try {
            connection.Call(QStringLiteral("GetPropriedCds"), {});
            QFAIL("parts were taken");
        } catch (const ESocketError &error) {
            QVERIFY2(error.message().contains(QStringLiteral("Resposta inválida")), qPrintable(error.message()));
        }
    }

    void answerLimitConfigured_data()
    {
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<qint64>("limit"); // 0: refused
        QTest::addColumn<QString>("origin");
        QTest::newRow("default") << QByteArray() << QString() << TSocketConnection::kDefaultAnswerLimit << QString();
        QTest::newRow("environment first") << QByteArray("512") << QStringLiteral("64") << (qint64(512) << 20) << QString();
        QTest::newRow("settings file") << QByteArray() << QStringLiteral("64") << (qint64(64) << 20) << QString();
        QTest::newRow("no number") << QByteArray("lots") << QString() << qint64(0) << QStringLiteral("QLX_ANSWER_LIMIT_MIB");
        QTest::newRow("not positive") << QByteArray() << QStringLiteral("0") << qint64(0) << QStringLiteral("answer-limit-mib");
    }
    void answerLimitConfigured()
    {
        QFETCH(QByteArray, environment);
        QFETCH(QString, setting);
        QFETCH(qint64, limit);
        QFETCH(QString, origin);
        qputenv("QLX_ANSWER_LIMIT_MIB", environment);
        {
            QSettings settings(ServerSettingsFile(), QSettings::IniFormat);
            if (setting.isEmpty())
                settings.remove(QStringLiteral("answer-limit-mib"));
            else
                settings.setValue(QStringLiteral("answer-limit-mib"), setting);
        }
        const auto cleanUp = qScopeGuard([] {
            qunsetenv("QLX_ANSWER_LIMIT_MIB");
            QSettings(ServerSettingsFile(), QSettings::IniFormat).remove(QStringLiteral("answer-limit-mib"));
        });
        if (limit != 0) {
            QCOMPARE(AnswerMemoryLimit(), limit);
            return;
        }
        try {
            AnswerMemoryLimit();
            QFAIL("a malformed limit was taken");
        } catch (const EConvertError &error) {
            QVERIFY2(error.message().contains(origin), qPrintable(error.message()));
        }
    }

    void busyWindowCountsTheLines_data()
    {
        QTest::addColumn<qint64>("lines");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none yet") << qint64(0) << QStringLiteral("0 linhas recebidas");
        QTest::newRow("one") << qint64(1) << QStringLiteral("1 linha recebida");
        QTest::newRow("thousands grouped") << qint64(1234567) << QStringLiteral("1.234.567 linhas recebidas");
    }

    void busyWindowSaysItReconnects()
    {
        ActiveShowAvi(nullptr, kAviServerQuery);
        ShowAviProgress(5000);
        QWidget *window = nullptr;
        for (QWidget *candidate : QApplication::topLevelWidgets()) {
            if (candidate->isVisible() && candidate->objectName() == QLatin1String("busyWindow"))
                window = candidate;
        }
        QVERIFY(window);
        auto *caption = window->findChild<QLabel *>(QStringLiteral("caption"));
        auto *progress = window->findChild<QLabel *>(QStringLiteral("progress"));
        ShowAviReconnecting(QStringLiteral("10.0.0.6:21102"));
        QCOMPARE(caption->text(), QStringLiteral("reconectando a 10.0.0.6:21102..."));
        QVERIFY(!progress->isVisible()); // the lines start over
        ShowAviProgress(1);
        QCOMPARE(progress->text(), QStringLiteral("1 linha recebida"));
        QVERIFY(progress->isVisible());
        QCOMPARE(caption->text(), QStringLiteral("Aguarde, consultando o servidor..."));
        DeactiveShowAvi();
    }

    void busyWindowCountsTheLines()
    {
        QFETCH(qint64, lines);
        QFETCH(QString, shown);
        ActiveShowAvi(nullptr, 6);
        ShowAviProgress(lines);
        QLabel *progress = nullptr;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && !progress)
                progress = window->findChild<QLabel *>(QStringLiteral("progress"));
        }
        QVERIFY(progress);
        QCOMPARE(progress->text(), shown);
        QVERIFY(progress->isVisible());
        // Counts in quick succession are not each drawn: the latest shows a moment later.
        ShowAviProgress(lines + 7);
        ShowAviProgress(lines + 2);
        QCOMPARE(progress->text(), shown);
        QTRY_COMPARE(progress->text(), ReceivedLinesText(lines + 2));
        DeactiveShowAvi();
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

    void silentServerTimesOutOnceAndTheNextCallReconnects()
    {
        std::atomic<int> calls = 0;
        FakeServer fake([&](const protocol::Request &) { return calls++ == 0 ? QByteArray() : emptyLanguages(); });
        SetServerAddressOption(fake.address());
        SetTimeoutOption(QStringLiteral("1"));
        TScriptedDialogService dialogs;
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        std::unique_ptr<TfrmGeraArquivo> owned(screen);
        SetTimeoutOption(QString());
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(dialogs.records.first().kind, TScriptedDialogService::Record::Exception);
        QCOMPARE(dialogs.records.first().text,
                 QStringLiteral("O servidor de aplicação %1 não respondeu em 1 segundos; a conexão foi encerrada.").arg(fake.address()));
        QVERIFY(!screen->netGeraArquivo->Connected());
        QCOMPARE(screen->cbbIdioma->count(), 0);

        GetIdioma(*screen->netGeraArquivo, *screen->cdsIdiomaOri);
        QCOMPARE(fake.connections(), 2);
        QCOMPARE(screen->netGeraArquivo->Timeout, kDefaultTimeoutSeconds);
    }

    void connectToAServerThatNeverAcceptsTimesOut()
    {
        const FullBacklog hanging;
        const int port = hanging.port;
        TNetConnection connection;
        connection.BeforeConnect = [&](QObject *) {
            connection.Host = QStringLiteral("127.0.0.1");
            connection.Port = port;
            connection.Timeout = 1;
        };
        try {
            connection.SetConnected(true);
            QFAIL("the connect succeeded");
        } catch (const ESocketError &failure) {
            QCOMPARE(failure.message(), QStringLiteral("Não foi possível conectar ao servidor de aplicação 127.0.0.1:%1 "
                                                       "(sem resposta em 1 segundos).").arg(port));
        }
        QVERIFY(!connection.Connected());
    }

    void slowAnswerThatKeepsSendingArrives()
    {
        // About 30 bytes at one every 80 ms: well past the one-second time-out in all.
        const QByteArray answer = protocol::encodeFailureResponse(QStringLiteral("devagar"), {});
        FakeServer fake([&](const protocol::Request &) { return answer; });
        fake.setPace(std::chrono::milliseconds(80));
        TNetConnection connection;
        connection.ServerName = QLatin1String(protocol::contract::kObjectName);
        connection.BeforeConnect = [&](QObject *) {
            connection.Host = QStringLiteral("127.0.0.1");
            connection.Port = fake.address().section(QLatin1Char(':'), 1).toInt();
            connection.Timeout = 1;
        };
        const OleVariant result = connection.Call(QStringLiteral("GetIdioma"), {});
        QCOMPARE(result.toMap().value(QLatin1String("message")).toString(), QStringLiteral("devagar"));
        QCOMPARE(fake.connections(), 1);
    }

    void timeoutTakenFromTheFirstSource_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<QString>("setting");
        QTest::addColumn<int>("seconds"); // 0: refused with a message naming the source
        QTest::addColumn<QString>("named");
        QTest::newRow("nothing set") << QString() << QByteArray() << QString() << 120 << QString();
        QTest::newRow("settings file") << QString() << QByteArray() << QStringLiteral("30") << 30 << QString();
        QTest::newRow("environment over the file") << QString() << QByteArray("45") << QStringLiteral("30") << 45 << QString();
        QTest::newRow("option over both") << QStringLiteral("5") << QByteArray("45") << QStringLiteral("30") << 5 << QString();
        QTest::newRow("longest") << QStringLiteral("86400") << QByteArray() << QString() << 86400 << QString();
        QTest::newRow("zero refused") << QString() << QByteArray("0") << QString() << 0 << QStringLiteral("QLX_TIMEOUT");
        QTest::newRow("past the longest") << QStringLiteral("86401") << QByteArray() << QString() << 0 << QStringLiteral("--timeout");
        QTest::newRow("not a number") << QString() << QByteArray() << QStringLiteral("2m") << 0 << QStringLiteral("qlxhost.conf");
    }
    void timeoutTakenFromTheFirstSource()
    {
        QFETCH(QString, option);
        QFETCH(QByteArray, environment);
        QFETCH(QString, setting);
        QFETCH(int, seconds);
        QFETCH(QString, named);
        {
            QSettings settings(ServerSettingsFile(), QSettings::IniFormat);
            settings.clear();
            if (!setting.isEmpty())
                settings.setValue(QStringLiteral("timeout"), setting);
        }
        qputenv("QLX_TIMEOUT", environment);
        SetTimeoutOption(option);
        const auto restore = qScopeGuard([] {
            SetTimeoutOption(QString());
            qunsetenv("QLX_TIMEOUT");
            QSettings(ServerSettingsFile(), QSettings::IniFormat).clear();
        });
        if (seconds > 0) {
            QCOMPARE(ServerTimeout(), seconds);
            return;
        }
        try {
            ServerTimeout();
            QFAIL("an invalid time-out was taken");
        } catch (const EConvertError &invalid) {
            QVERIFY2(invalid.message().contains(named), qPrintable(invalid.message()));
        }
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
        connection.ServerName = QLatin1String(protocol::contract::kObjectName);
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

    void serverAddressRead_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("error"); // the reason the message gives; empty: none
        const QString badPort = QStringLiteral("A porta deve ser um número de 1 a 65535.");
        QTest::newRow("nothing set") << QString() << QStringLiteral("127.0.0.1") << 21102 << QString();
        QTest::newRow("host alone") << QStringLiteral("servidor.local") << QStringLiteral("servidor.local") << 21102 << QString();
        QTest::newRow("host and port") << QStringLiteral("10.0.0.5:3000") << QStringLiteral("10.0.0.5") << 3000 << QString();
        QTest::newRow("port alone") << QStringLiteral(":3000") << QStringLiteral("127.0.0.1") << 3000 << QString();
        QTest::newRow("IPv6 and port") << QStringLiteral("[::1]:3000") << QStringLiteral("::1") << 3000 << QString();
        QTest::newRow("IPv6 alone") << QStringLiteral("[fe80::1]") << QStringLiteral("fe80::1") << 21102 << QString();
        QTest::newRow("highest port") << QStringLiteral("h:65535") << QStringLiteral("h") << 65535 << QString();
        QTest::newRow("port too high") << QStringLiteral("127.0.0.1:99999") << QString() << 0 << badPort;
        QTest::newRow("port 0") << QStringLiteral("h:0") << QString() << 0 << badPort;
        QTest::newRow("port of letters") << QStringLiteral("host:abc") << QString() << 0 << badPort;
        QTest::newRow("port with a sign") << QStringLiteral("host:+80") << QString() << 0 << badPort;
        QTest::newRow("colon, no port") << QStringLiteral("host:") << QString() << 0 << badPort;
        QTest::newRow("IPv6 without brackets") << QStringLiteral("::1") << QString() << 0
                                               << QStringLiteral("Um endereço IPv6 vai entre colchetes: [::1]:21102.");
        QTest::newRow("bracket not closed") << QStringLiteral("[::1:3000") << QString() << 0
                                            << QStringLiteral("Falta o \"]\" que fecha o endereço IPv6.");
        QTest::newRow("IPv4 in brackets") << QStringLiteral("[10.0.0.1]:3000") << QString() << 0
                                          << QStringLiteral("Entre colchetes deve haver um endereço IPv6.");
        QTest::newRow("IPv6 port out of range") << QStringLiteral("[::1]:70000") << QString() << 0 << badPort;
    }
    void serverAddressRead()
    {
        QFETCH(QString, setting);
        QFETCH(QString, host);
        QFETCH(int, port);
        QFETCH(QString, error);
        try {
            const TServerAddress address = ParseServerAddress(setting, QStringLiteral("o teste"));
            QVERIFY2(error.isEmpty(), "no error reported");
            QCOMPARE(address.host, host);
            QCOMPARE(address.port, port);
        } catch (const Exception &failure) {
            QCOMPARE(failure.message(), QStringLiteral("Endereço do servidor de aplicação inválido em o teste: \"%1\". %2")
                                            .arg(setting, error));
        }
    }

    void serverListRead_data()
    {
        QTest::addColumn<QString>("setting");
        QTest::addColumn<QStringList>("servers");
        QTest::addColumn<QString>("named"); // the text a refusal names
        QTest::addColumn<QString>("error");
        const QString empty = QStringLiteral("A lista tem um servidor vazio entre as vírgulas.");
        QTest::newRow("one") << QStringLiteral("a:1") << QStringList { QStringLiteral("a:1") } << QString() << QString();
        QTest::newRow("two, the second without a port")
            << QStringLiteral("a:1,b") << QStringList { QStringLiteral("a:1"), QStringLiteral("b:21102") } << QString() << QString();
        QTest::newRow("blanks around, IPv6")
            << QStringLiteral(" a:1 , [::1]:2") << QStringList { QStringLiteral("a:1"), QStringLiteral("::1:2") } << QString() << QString();
        QTest::newRow("second's port out of range") << QStringLiteral("a:1,b:99999") << QStringList() << QStringLiteral("b:99999")
                                                    << QStringLiteral("A porta deve ser um número de 1 a 65535.");
        QTest::newRow("IPv6 without brackets") << QStringLiteral("a,::1") << QStringList() << QStringLiteral("::1")
                                               << QStringLiteral("Um endereço IPv6 vai entre colchetes: [::1]:21102.");
        QTest::newRow("nothing between commas") << QStringLiteral("a:1,,b:2") << QStringList() << QStringLiteral("a:1,,b:2") << empty;
        QTest::newRow("a comma at the end") << QStringLiteral("a:1,") << QStringList() << QStringLiteral("a:1,") << empty;
    }
    void serverListRead()
    {
        QFETCH(QString, setting);
        QFETCH(QStringList, servers);
        QFETCH(QString, named);
        QFETCH(QString, error);
        try {
            QStringList read;
            for (const TServerAddress &address : ParseServerAddresses(setting, QStringLiteral("o teste")))
                read << address.name();
            QVERIFY2(error.isEmpty(), "no error reported");
            QCOMPARE(read, servers);
        } catch (const Exception &failure) {
            QCOMPARE(failure.message(), QStringLiteral("Endereço do servidor de aplicação inválido em o teste: \"%1\". %2")
                                            .arg(named, error));
        }
    }

    void connectGoesOnToTheNextServer()
    {
        FakeAppServer working;
        const QString down = closedAddress();
        SetServerAddressOption(down + QLatin1Char(',') + working.fake.address());
        const auto cleanup = qScopeGuard([] { SetServerAddressOption(QString()); });
        TScriptedDialogService dialogs;
        ConfiguredConnection connection;
        TClientDataSet languages;
        DeclareLanguageFields(languages);
        QElapsedTimer took;
        took.start();
        GetIdioma(connection, languages);
        QVERIFY(took.elapsed() < 5000); // a refused connect does not wait for the time-out
        QCOMPARE(languages.RecordCount(), 2);
        QCOMPARE(working.fake.connections(), 1);

        // The process keeps the server that failed last: the next connect goes straight to the working one.
        connection.SetConnected(false);
        QCOMPARE(ServersInTryOrder().constFirst().name(), working.fake.address());
        QCOMPARE(QStringLiteral("%1:%2").arg(WebURL()).arg(WebPort()), working.fake.address());
        GetIdioma(connection, languages);
        QCOMPARE(working.fake.connections(), 2);
        QCOMPARE(connection.Host + QLatin1Char(':') + QString::number(connection.Port), working.fake.address());
    }

    void connectFailsOnlyWhenEveryServerFails_data()
    {
        QTest::addColumn<bool>("withSocketError"); // ThrowException
        QTest::newRow("as the screen reports it") << false;
        QTest::newRow("with the socket's errors") << true;
    }
    void connectFailsOnlyWhenEveryServerFails()
    {
        QFETCH(bool, withSocketError);
        const QString first = closedAddress();
        const QString second = closedAddress();
        SetServerAddressOption(first + QLatin1Char(',') + second);
        const auto cleanup = qScopeGuard([] { SetServerAddressOption(QString()); });
        ConfiguredConnection connection;
        connection.ThrowException = withSocketError;
        try {
            connection.SetConnected(true);
            QFAIL("the connect succeeded");
        } catch (const ESocketError &failure) {
            const QString refused = withSocketError ? QStringLiteral(" (Connection refused)") : QString();
            QCOMPARE(failure.message(), QStringLiteral("Não foi possível conectar a nenhum dos servidores de aplicação: %1%3, %2%3.")
                                            .arg(first, second, refused));
        }
        QVERIFY(!connection.Connected());
    }

    void failedAnswerIsNotRepeatedOnTheNextServer_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("a failure the server reports") << QStringLiteral("failing");
        QTest::newRow("an exception") << QStringLiteral("throwing");
        QTest::newRow("a time-out") << QStringLiteral("slow");
    }
    void failedAnswerIsNotRepeatedOnTheNextServer()
    {
        QFETCH(QString, fault);
        FakeAppServer first;
        FakeAppServer second;
        (fault == QLatin1String("failing") ? first.failing : fault == QLatin1String("throwing") ? first.throwing : first.slow)
            = QStringLiteral("GetPropriedCds");
        first.slowMs = 2500;
        SetServerAddressOption(first.fake.address() + QLatin1Char(',') + second.fake.address());
        const auto cleanup = qScopeGuard([] { SetServerAddressOption(QString()); });
        TScriptedDialogService dialogs;
        ConfiguredConnection connection;
        connection.BeforeConnect = [&connection](QObject *) {
            connection.Host = WebURL();
            connection.Port = WebPort();
            connection.Timeout = 1;
        };
        TClientDataSet lines;
        DeclareLineField(lines);
        AnsiString list = "PRODUTO";
        QVERIFY_THROWS_EXCEPTION(Exception, GetPropriedCds(connection, "EN1", list, 0, lines));
        QCOMPARE(first.fake.requests().size(), 1);
        QCOMPARE(second.fake.requests().size(), 0);
        QCOMPARE(ServersInTryOrder().constFirst().name(), first.fake.address()); // not taken for a lost server
    }

    void malformedAddressNamesWhereItCameFrom_data()
    {
        QTest::addColumn<int>("source"); // 0 option, 1 environment, 2 settings file
        QTest::addColumn<QString>("origin");
        QTest::newRow("option") << 0 << QStringLiteral("--server (opção da linha de comando)");
        QTest::newRow("environment") << 1 << QStringLiteral("QLX_SERVER (variável de ambiente)");
        QTest::newRow("settings file") << 2 << QStringLiteral("server (arquivo de configuração %1)").arg(ServerSettingsFile());
    }
    void malformedAddressNamesWhereItCameFrom()
    {
        QFETCH(int, source);
        QFETCH(QString, origin);
        const QString bad = QStringLiteral("127.0.0.1:99999");
        SetServerAddressOption(source == 0 ? bad : QString());
        qputenv("QLX_SERVER", source == 1 ? bad.toUtf8() : QByteArray());
        QDir().mkpath(QFileInfo(ServerSettingsFile()).path());
        {
            QSettings settings(ServerSettingsFile(), QSettings::IniFormat);
            settings.setValue(QStringLiteral("server"), source == 2 ? bad : QString());
        }
        QString message;
        try {
            WebPort();
        } catch (const Exception &failure) {
            message = failure.message();
        }
        QFile::remove(ServerSettingsFile());
        SetServerAddressOption(QString());
        qputenv("QLX_SERVER", QByteArray());
        QVERIFY2(message.contains(origin), qPrintable(message));
        QVERIFY2(message.contains(bad), qPrintable(message));
    }

    void malformedAddressReportedWhenTheScreenOpens()
    {
        TScriptedDialogService dialogs;
        SetServerAddressOption(QStringLiteral("host:abc"));
        TfrmGeraArquivo *screen = nullptr;
        Application().CreateForm(screen);
        SetServerAddressOption(QString());
        QCOMPARE(dialogs.records.size(), 1);
        QCOMPARE(dialogs.records.first().kind, TScriptedDialogService::Record::Exception);
        QVERIFY(dialogs.records.first().text.contains(QStringLiteral("\"host:abc\"")));
        QCOMPARE(screen->cbbIdioma->count(), 0);
        QVERIFY(!ShowAviVisible());
        delete screen;
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
