// The time field's mask "99:99;0; " as the screen reads and writes it.
#include "runtime/widgets/maskedit.h"

#include <QTest>

class TestMaskEdit : public QObject
{
    Q_OBJECT

private slots:
    void typedText_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("editText");
        QTest::newRow("untouched") << QString() << QByteArray() << QByteArray("  :  ");
        QTest::newRow("whole time") << QStringLiteral("0930") << QByteArray("0930") << QByteArray("09:30");
        QTest::newRow("hour only") << QStringLiteral("12") << QByteArray("12") << QByteArray("12:  ");
        QTest::newRow("colon typed is skipped") << QStringLiteral("09:30") << QByteArray("0930") << QByteArray("09:30");
        QTest::newRow("no more than four digits") << QStringLiteral("123456") << QByteArray("1234") << QByteArray("12:34");
        QTest::newRow("letters refused") << QStringLiteral("ab1") << QByteArray("1") << QByteArray("1 :  ");
    }
    void typedText()
    {
        QFETCH(QString, keys);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, editText);
        TMaskEdit edit(QStringLiteral("99:99;0; "));
        edit.show();
        edit.setFocus();
        edit.home(false);
        QTest::keyClicks(&edit, keys);
        QCOMPARE(QByteArray::fromStdString(edit.Text()), text);
        QCOMPARE(QByteArray::fromStdString(edit.EditText()), editText);
        QCOMPARE(edit.Text().find(':'), AnsiString::npos);
        QCOMPARE(edit.maxLength(), 5);
    }

    void blankInsideReadsAsBlank()
    {
        TMaskEdit edit(QStringLiteral("99:99;0; "));
        edit.SetText(" 5 3");
        QCOMPARE(QByteArray::fromStdString(edit.Text()), QByteArray(" 5 3"));
        QCOMPARE(QByteArray::fromStdString(edit.EditText()), QByteArray(" 5: 3"));
    }

    void programWriteFiresChangeAndPassesItsException()
    {
        TMaskEdit edit(QStringLiteral("99:99;0; "));
        int changes = 0;
        edit.OnChange = [&](QObject *) {
            ++changes;
            throw std::runtime_error("from the change handler");
        };
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, edit.SetText("0930"));
        QCOMPARE(changes, 1);
        QCOMPARE(QByteArray::fromStdString(edit.Text()), QByteArray("0930"));
    }

    void changeOnlyWhenTheTextChanges_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("written"); // null: the user types `keys` instead
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("changes");
        QTest::newRow("program writes the same time") << QByteArray("0930") << QByteArray("0930") << QString() << 0;
        QTest::newRow("program writes empty over untouched") << QByteArray() << QByteArray("") << QString() << 0;
        QTest::newRow("program writes another time") << QByteArray("0930") << QByteArray("0931") << QString() << 1;
        QTest::newRow("program empties the field") << QByteArray("0930") << QByteArray("") << QString() << 1;
        QTest::newRow("user types the digit already there") << QByteArray("0930") << QByteArray() << QStringLiteral("0") << 0;
        QTest::newRow("user types a new digit") << QByteArray("0930") << QByteArray() << QStringLiteral("1") << 1;
    }
    void changeOnlyWhenTheTextChanges()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, written);
        QFETCH(QString, keys);
        QFETCH(int, changes);
        TMaskEdit edit(QStringLiteral("99:99;0; "));
        edit.SetText(before.toStdString());
        int fired = 0;
        edit.OnChange = [&](QObject *) { ++fired; };
        if (!written.isNull()) {
            edit.SetText(written.toStdString());
        } else {
            edit.show();
            edit.setFocus();
            edit.home(false);
            QTest::keyClicks(&edit, keys);
        }
        QCOMPARE(fired, changes);
    }

    void userEditFiresChangeWithoutPassingOut()
    {
        TMaskEdit edit(QStringLiteral("99:99;0; "));
        int changes = 0;
        edit.OnChange = [&](QObject *) { ++changes; };
        edit.show();
        edit.setFocus();
        edit.home(false);
        QTest::keyClicks(&edit, QStringLiteral("12"));
        QCOMPARE(changes, 2);
    }
};

QTEST_MAIN(TestMaskEdit)
#include "tst_maskedit.moc"
