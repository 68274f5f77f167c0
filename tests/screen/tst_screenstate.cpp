// The screen on its first showing: every control in its initial state, the focus
// on the language list and the Tab key cycling through the inputs.
#include "runtime/widgets/scripteddialogs.h"
#include "screen/geraarquivo.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPixmap>
#include <QTest>

class TestScreenState : public QObject
{
    Q_OBJECT

private slots:
    void firstShowing()
    {
        TScriptedDialogService dialogs;
        TfrmGeraArquivo screen;
        screen.show();
        QVERIFY(QTest::qWaitForWindowActive(&screen));

        QCOMPARE(screen.windowTitle(), QStringLiteral("Geração do Arquivo de Tradução das Tabelas"));
        QCOMPARE(screen.size(), QSize(535, 113));
        QCOMPARE(screen.lblCodTela->text(), QStringLiteral("QLX02600"));
        QCOMPARE(screen.cbbIdioma->Text(), AnsiString());
        QCOMPARE(screen.cbbIdioma->isEditable(), false);
        QCOMPARE(screen.depDataIni->Text(), AnsiString());
        QCOMPARE(screen.medItems->Text(), AnsiString());
        QCOMPARE(screen.edtDiretorio->Text(), AnsiString());
        QVERIFY(screen.rbtTodos->Checked());
        QVERIFY(!screen.rbtLista->Checked());
        QVERIFY(!screen.BtnTabelas->isEnabled());
        QCOMPARE(screen.ListaTabelas(), AnsiString());
        QTRY_COMPARE(QApplication::focusWidget(), screen.cbbIdioma);
        QVERIFY(dialogs.records.isEmpty());
    }

    void captionsAndLook_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("caption");
        QTest::newRow("Label1") << QStringLiteral("Label1") << QStringLiteral("Idioma");
        QTest::newRow("Label2") << QStringLiteral("Label2") << QStringLiteral("Itens alterados a partir de:");
        QTest::newRow("Label3") << QStringLiteral("Label3") << QStringLiteral("Diretório para geração");
    }
    void captionsAndLook()
    {
        QFETCH(QString, name);
        QFETCH(QString, caption);
        TfrmGeraArquivo screen;
        auto *label = screen.findChild<TLabel *>(name);
        QVERIFY(label);
        QCOMPARE(label->text(), caption);
        QVERIFY(label->font().bold());
        QCOMPARE(label->font().pixelSize(), 11);
    }

    void catalogue_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<QString>("text");
        QTest::newRow("trailing blank kept") << QByteArray("DATA_HORA") << QStringLiteral("Data deve ser informada. ");
        QTest::newRow("full stop") << QByteArray("Arq_Gerado") << QStringLiteral("Arquivo gerado com sucesso.");
        QTest::newRow("exclamation, lower case key") << QByteArray("sucesso") << QStringLiteral("Arquivo gerado com sucesso!");
        QTest::newRow("title") << QByteArray("TABELA") << QStringLiteral("Tabelas");
        QTest::newRow("accents") << QByteArray("ARQ_S_TEXT") << QStringLiteral("O arquivo de tradução não pôde ser gerado pois não há tabela traduzida correspondente aos dados informados na tela.");
        QTest::newRow("question") << QByteArray("DirNExist") << QStringLiteral("Diretório não existe. Deseja criá-lo?");
        QTest::newRow("key case matters") << QByteArray("arq_gerado") << QString();
    }
    void catalogue()
    {
        QFETCH(QByteArray, key);
        QFETCH(QString, text);
        TfrmGeraArquivo screen;
        QCOMPARE(screen.msgPadrao.Messages.size(), size_t(19));
        QCOMPARE(screen.msgPadrao.Messages.front(), AnsiString("DirNInformado|Diret\xf3rio deve ser informado."));
        QCOMPARE(screen.msgPadrao.Messages.back(), AnsiString("DATA_INF|N\xe3o h\xe1 registros at\xe9 a data informada."));
        QCOMPARE(QByteArray::fromStdString(screen.msgPadrao.Msg(key.toStdString())),
                 QByteArray::fromStdString(Ansi::fromUnicode(text)));
    }

    void tabCyclesThroughTheInputs_data()
    {
        QTest::addColumn<bool>("lista");
        QTest::newRow("Todos checked") << false;
        QTest::newRow("Lista checked") << true;
    }
    void tabCyclesThroughTheInputs()
    {
        QFETCH(bool, lista);
        TScriptedDialogService dialogs;
        TfrmGeraArquivo screen;
        screen.show();
        QVERIFY(QTest::qWaitForWindowActive(&screen));
        if (lista)
            QTest::mouseClick(screen.rbtLista, Qt::LeftButton);
        screen.cbbIdioma->setFocus();
        QWidget *scope = lista ? static_cast<QWidget *>(screen.rbtLista) : screen.rbtTodos;
        const QList<QWidget *> cycle { scope, screen.depDataIni, screen.medItems, screen.edtDiretorio, screen.cbbIdioma };
        for (QWidget *expected : cycle) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), expected);
        }
    }

    void entriesHaveTheInformationBackground_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("language list") << QStringLiteral("cbbIdioma");
        QTest::newRow("date") << QStringLiteral("depDataIni");
        QTest::newRow("time") << QStringLiteral("medItems");
        QTest::newRow("directory") << QStringLiteral("edtDiretorio");
    }
    void entriesHaveTheInformationBackground()
    {
        QFETCH(QString, name);
        TfrmGeraArquivo screen;
        screen.show();
        QVERIFY(QTest::qWaitForWindowExposed(&screen));
        auto *entry = screen.findChild<QWidget *>(name);
        QVERIFY(entry);
        const QImage picture = entry->grab().toImage();
        const QPoint inside(6, picture.height() / 2); // in the field, left of any text
        QCOMPARE(QColor(picture.pixel(inside)).name(), QColor(clInfoBk).name());
    }

    void tablesFrameLineClearsItsButtons_data()
    {
        QTest::addColumn<qreal>("scale");
        QTest::newRow("100 %") << 1.0;
        QTest::newRow("2x") << 2.0;
    }
    void tablesFrameLineClearsItsButtons()
    {
        QFETCH(qreal, scale);
        TfrmGeraArquivo screen;
        screen.show();
        QVERIFY(QTest::qWaitForWindowExposed(&screen));
        QWidget *area = screen.rdgTabelas->parentWidget();
        QPixmap pixels(area->size() * scale);
        pixels.setDevicePixelRatio(scale);
        area->render(&pixels);
        const QImage picture = pixels.toImage();
        // Right of the buttons, the frame's top line is the first row that differs
        // from the area's background all the way across.
        const QRect frame = screen.rdgTabelas->geometry();
        const int left = int((screen.BtnTabelas->geometry().right() + 4) * scale);
        const int right = int((frame.right() - 4) * scale);
        const int background = qGray(picture.pixel(left, int(frame.center().y() * scale)));
        int line = -1;
        for (int y = int(frame.top() * scale); y < int(frame.bottom() * scale) && line < 0; ++y) {
            bool across = true;
            for (int x = left; x <= right && across; ++x)
                across = qAbs(qGray(picture.pixel(x, y)) - background) > 8;
            if (across)
                line = y;
        }
        QVERIFY2(line >= 0, "no frame line found");
        const int todosTop = int(screen.rbtTodos->geometry().top() * scale);
        QVERIFY2(line < todosTop, qPrintable(QStringLiteral("the frame's line at %1, Todos from %2").arg(line).arg(todosTop)));
    }

    void languageItemsAreThirteenPixelsHigh()
    {
        TfrmGeraArquivo screen;
        screen.cbbIdioma->AddItem("Ingl\xeas");
        screen.cbbIdioma->AddItem("Espanhol");
        screen.show();
        QVERIFY(QTest::qWaitForWindowExposed(&screen));
        screen.cbbIdioma->showPopup();
        QAbstractItemView *list = screen.cbbIdioma->view();
        QTRY_VERIFY(list->isVisible());
        QCOMPARE(list->visualRect(list->model()->index(1, 0)).height(), 13);
        screen.cbbIdioma->hidePopup();
    }

    void timeFieldNeverHoldsTheColon()
    {
        TScriptedDialogService dialogs;
        TfrmGeraArquivo screen;
        screen.show();
        QVERIFY(QTest::qWaitForWindowActive(&screen));
        screen.medItems->setFocus();
        screen.medItems->home(false);
        QTest::keyClicks(screen.medItems, QStringLiteral("0930"));
        QCOMPARE(screen.medItems->Text(), AnsiString("0930"));
        QCOMPARE(screen.medItems->EditText(), AnsiString("09:30"));
    }
};

QTEST_MAIN(TestScreenState)
#include "tst_screenstate.moc"
