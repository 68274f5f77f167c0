// The host library's date edit under the Brazilian short date format.
#include "hostlib/widgets/dateeditplus.h"
#include "runtime/core/exceptions.h"
#include "runtime/widgets/scripteddialogs.h"

#include <QTest>

class TestDateEdit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { FormatSettings() = TFormatSettings::fromLocale(QLocale(QLocale::Portuguese, QLocale::Brazil)); }

    void dates_data()
    {
        QTest::addColumn<QByteArray>("typed");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QDate>("date");
        QTest::newRow("nothing") << QByteArray() << QByteArray() << false << QDate();
        QTest::newRow("whole date") << QByteArray("05032026") << QByteArray("05/03/2026") << true << QDate(2026, 3, 5);
        QTest::newRow("no such day") << QByteArray("31022026") << QByteArray("31/02/2026") << false << QDate();
        QTest::newRow("year cut short") << QByteArray("0503") << QByteArray("05/03/") << false << QDate();
    }
    void dates()
    {
        QFETCH(QByteArray, typed);
        QFETCH(QByteArray, text);
        QFETCH(bool, valid);
        QFETCH(QDate, date);
        TDateEditPlus edit;
        edit.show();
        edit.setFocus();
        edit.home(false);
        QTest::keyClicks(&edit, QString::fromLatin1(typed));
        QCOMPARE(QByteArray::fromStdString(edit.Text()), text);
        QCOMPARE(edit.IsDateValid(), valid);
        if (valid)
            QCOMPARE(edit.GetDate(), DateFromQt(date));
        else
            QVERIFY_THROWS_EXCEPTION(EConvertError, edit.GetDate());
    }

    void ownCheckOnExit()
    {
        TScriptedDialogService dialogs;
        TDateEditPlus edit;
        edit.SetText("31/02/2026");
        QVERIFY_THROWS_EXCEPTION(EAbort, edit.CheckValidDate());
        QCOMPARE(dialogs.texts(), QStringList { QStringLiteral("Data inválida: 31/02/2026") });
        dialogs.clear();
        edit.SetText(AnsiString());
        edit.CheckValidDate(); // an empty date is no matter of this check
        QVERIFY(dialogs.records.isEmpty());
    }

    void weekdayNameOfTheDate()
    {
        TDateEditPlus edit;
        edit.NomeSemana = { QStringLiteral("Domingo"), QStringLiteral("Segunda"), QStringLiteral("Terça"), QStringLiteral("Quarta"),
                            QStringLiteral("Quinta"), QStringLiteral("Sexta"), QStringLiteral("Sábado") };
        edit.SetText("06/12/2026");
        QCOMPARE(edit.toolTip(), QStringLiteral("Domingo"));
    }
};

QTEST_MAIN(TestDateEdit)
#include "tst_dateedit.moc"
