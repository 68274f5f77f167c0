// The network a client is counted in: its address cut to the prefix's bits.
#include "appserver/network/clientprefix.h"

#include <QTest>

class TestClientPrefix : public QObject
{
    Q_OBJECT

private slots:
    void networkOfAnAddress_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("v4Bits");
        QTest::addColumn<int>("v6Bits");
        QTest::addColumn<QString>("network");
        QTest::newRow("IPv4, whole address") << QStringLiteral("192.0.2.77") << 32 << 64 << QStringLiteral("192.0.2.77");
        QTest::newRow("IPv4, /24") << QStringLiteral("192.0.2.77") << 24 << 64 << QStringLiteral("192.0.2.0/24");
        QTest::newRow("IPv4, /20 cuts inside a byte") << QStringLiteral("192.0.31.77") << 20 << 64
                                                      << QStringLiteral("192.0.16.0/20");
        QTest::newRow("IPv4, /1") << QStringLiteral("192.0.2.77") << 1 << 64 << QStringLiteral("128.0.0.0/1");
        QTest::newRow("IPv6, /64 of many addresses") << QStringLiteral("2001:db8:1:2:aaaa:bbbb:cccc:dddd") << 32 << 64
                                                      << QStringLiteral("2001:db8:1:2::/64");
        QTest::newRow("IPv6, /56 cuts inside a byte") << QStringLiteral("2001:db8:1:2ff::1") << 32 << 56
                                                       << QStringLiteral("2001:db8:1:200::/56");
        QTest::newRow("IPv6, /60 cuts inside a byte") << QStringLiteral("2001:db8:1:2ff::1") << 32 << 60
                                                       << QStringLiteral("2001:db8:1:2f0::/60");
        QTest::newRow("IPv6, whole address") << QStringLiteral("2001:db8::5") << 32 << 128 << QStringLiteral("2001:db8::5");
        QTest::newRow("IPv6 prefix leaves IPv4 whole") << QStringLiteral("198.51.100.9") << 32 << 8
                                                        << QStringLiteral("198.51.100.9");
    }
    void networkOfAnAddress()
    {
        QFETCH(QString, address);
        QFETCH(int, v4Bits);
        QFETCH(int, v6Bits);
        QFETCH(QString, network);
        QCOMPARE((ClientPrefix { v4Bits, v6Bits }.of(QHostAddress(address))), network);
    }
};

QTEST_GUILESS_MAIN(TestClientPrefix)
#include "tst_clientprefix.moc"
