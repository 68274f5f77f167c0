// Single-byte text, its conversions and the small text routines the screen uses.
#include "hostlib/core/stringroutines.h"
#include "runtime/core/ansistring.h"
#include "runtime/core/datetime.h"
#include "runtime/core/format.h"

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
        QTest::newRow("a real SUB beside an arrow") << QStringLiteral("\x1a→") << QByteArray("\x1a?");
        QTest::newRow("byte order mark") << QStringLiteral("\uFEFFa") << QByteArray("?a");
        QTest::newRow("controls the code page has no byte for")
            << QStringLiteral("\u0081\u008D\u008F\u0090\u009D") << QByteArray("?????");
        QTest::newRow("lone surrogate") << QString(QChar(0xD800)) + QLatin1Char('a') << QByteArray("?a");
        QTest::newRow("NUL is a byte") << QString(QChar(0)) << QByteArray(1, '\0');
    }

    // Every character against the code page's table: the 251 that have a byte
    // round-trip, and nothing else of the first 64K is representable.
    void representableExactlyAsTheTable()
    {
        QString mapped;
        for (int byte = 0; byte < 256; ++byte) {
            if (byte != 0x81 && byte != 0x8D && byte != 0x8F && byte != 0x90 && byte != 0x9D)
                mapped += Ansi::toUnicode(std::string(1, char(byte)));
        }
        QCOMPARE(mapped.size(), 251);
        QCOMPARE(Ansi::toUnicode(Ansi::fromUnicode(mapped)), mapped);
        int representable = 0;
        for (char16_t c = 0; c < 0xD800; ++c)
            representable += Ansi::representable(QString(QChar(c)));
        QCOMPARE(representable, 251);
        QVERIFY(!Ansi::representable(QStringLiteral("\uFEFF")));
        QVERIFY(!Ansi::representable(QStringLiteral("\x1a→")));
    }
    void unmappableBecomesQuestionMark()
    {
        QFETCH(QString, unicode);
        QFETCH(QByteArray, bytes);
        QCOMPARE(QByteArray::fromStdString(Ansi::fromUnicode(unicode)), bytes);
    }

    void shortDateFormats_data()
    {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("format");
        QTest::addColumn<QString>("date");
        QTest::newRow("Brazil") << QLocale(QLocale::Portuguese, QLocale::Brazil) << QStringLiteral("dd/MM/yyyy") << QStringLiteral("01/12/2026");
        QTest::newRow("C gets the Brazilian one") << QLocale::c() << QStringLiteral("dd/MM/yyyy") << QStringLiteral("01/12/2026");
        QTest::newRow("United States, two digits each") << QLocale(QLocale::English, QLocale::UnitedStates) << QStringLiteral("MM/dd/yyyy") << QStringLiteral("12/01/2026");
        QTest::newRow("Germany") << QLocale(QLocale::German, QLocale::Germany) << QStringLiteral("dd.MM.yyyy") << QStringLiteral("01.12.2026");
    }
    void shortDateFormats()
    {
        QFETCH(QLocale, locale);
        QFETCH(QString, format);
        QFETCH(QString, date);
        const TFormatSettings settings = TFormatSettings::fromLocale(locale);
        QCOMPARE(settings.ShortDateFormat, format);
        QCOMPARE(DateTimeToStr(EncodeDate(2026, 12, 1), settings), date);
        QCOMPARE(DateTimeToStr(EncodeDate(2026, 12, 1) + EncodeTime(9, 30), settings), date + QStringLiteral(" 09:30:00"));
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
