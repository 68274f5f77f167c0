// Single-byte text, its conversions and the small text routines the screen uses.
#include <ansistring.h>
#include <format.h>
#include <stringroutines.h>

#include <QTest>

class TestText : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data()
    {
        QTest::addColumn<QString>("unicode");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("accents") << QStringLiteral("Diretório não pôde") << QByteArray("Diret\xf3rio n\xe3o p\xf4" "de");
        QTest::newRow("euro and quotes") << QStringLiteral("€ “x”") << QByteArray("\x80 \x93x\x94");
        QTest::newRow("empty") << QString() << QByteArray();
    }
    void roundTrip()
    {
        QFETCH(QString, unicode);
        QFETCH(QByteArray, bytes);
        QCOMPARE(QByteArray::fromStdString(Ansi::fromUnicode(unicode)), bytes);
        QCOMPARE(Ansi::toUnicode(bytes.toStdString()), unicode);
    }

    void unmappableBecomesQuestionMark_data()
    {
        QTest::addColumn<QString>("unicode");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("cjk") << QStringLiteral("a中b") << QByteArray("a?b");
        QTest::newRow("emoji, one mark for the pair") << QStringLiteral("x😀") << QByteArray("x?");
        QTest::newRow("a real SUB stays") << QStringLiteral("a\x1a中") << QByteArray("a\x1a?");
    }
    void unmappableBecomesQuestionMark()
    {
        QFETCH(QString, unicode);
        QFETCH(QByteArray, bytes);
        QCOMPARE(QByteArray::fromStdString(Ansi::fromUnicode(unicode)), bytes);
    }

    void caseInsensitiveComparison()
    {
        QVERIFY(Ansi::sameTextIgnoringCase("INGL\xcaS", "ingl\xeas"));
        QVERIFY(!Ansi::sameTextIgnoringCase("Ingl", "Ingles"));
    }

    void emptyString_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("empty");
        QTest::newRow("nothing") << QByteArray() << true;
        QTest::newRow("blanks") << QByteArray("   ") << true;
        QTest::newRow("letter among blanks") << QByteArray("  a ") << false;
        QTest::newRow("tab is no blank") << QByteArray("\t") << false;
    }
    void emptyString()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, empty);
        QCOMPARE(EmptyString(text.toStdString()), empty);
    }

    void ajusta_data()
    {
        QTest::addColumn<QByteArray>("piece");
        QTest::addColumn<QByteArray>("adjusted");
        QTest::newRow("two digits") << QByteArray("09") << QByteArray("09");
        QTest::newRow("digit then blank") << QByteArray("9 ") << QByteArray("09");
        QTest::newRow("blank then digit") << QByteArray(" 7") << QByteArray("07");
        QTest::newRow("blank") << QByteArray("  ") << QByteArray();
        QTest::newRow("nothing") << QByteArray() << QByteArray();
    }
    void ajusta()
    {
        QFETCH(QByteArray, piece);
        QFETCH(QByteArray, adjusted);
        QCOMPARE(QByteArray::fromStdString(Ajusta(piece.toStdString(), 2)), adjusted);
    }

    void format()
    {
        QCOMPARE(Format("Hora inv\xe1lida.", { "25:10" }), AnsiString("Hora inv\xe1lida."));
        QCOMPARE(Format("%s de %s, 100%%", { "a", "b", "c" }), AnsiString("a de b, 100%"));
        QCOMPARE(Format("%s e %s", { "a" }), AnsiString("a e "));
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "tst_text.moc"
