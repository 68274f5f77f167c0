#pragma once

// A throw-away certificate authority and its certificates, made by openssl.
#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

// Certificates a test needs, each a NAME.pem with its NAME.key, under one directory.
class Pki
{
public:
    QString pem(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".pem")); }
    QString key(const QString &name) const { return m_dir.filePath(name + QStringLiteral(".key")); }

    bool makeAuthority(const QString &name)
    {
        return openssl({ QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                         QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                         QStringLiteral("-keyout"), key(name), QStringLiteral("-out"), pem(name), QStringLiteral("-subj"),
                         QStringLiteral("/CN=%1").arg(name), QStringLiteral("-days"), QStringLiteral("2")});
    }

    // A certificate for `commonName` signed by `authority`, valid for `days` (negative:
    // expired), with `altNames` as its subject alternative names.
    bool issue(const QString &name, const QString &authority, const QString &commonName, const QString &altNames,
               int days = 2)
    {
        const QString request = m_dir.filePath(name + QStringLiteral(".csr"));
        const QString extensions = m_dir.filePath(name + QStringLiteral(".ext"));
        QFile file(extensions);
        if (!file.open(QIODevice::WriteOnly) || file.write(QStringLiteral("subjectAltName=%1\n").arg(altNames).toUtf8()) < 0)
            return false;
        file.close();
        return openssl({ QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                         key(name), QStringLiteral("-out"), request, QStringLiteral("-subj"),
                         QStringLiteral("/CN=%1").arg(commonName) })
            && openssl({ QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request, QStringLiteral("-CA"),
                         pem(authority), QStringLiteral("-CAkey"), key(authority), QStringLiteral("-CAcreateserial"),
                         QStringLiteral("-days"), QString::number(days), QStringLiteral("-extfile"), extensions,
                         QStringLiteral("-out"), pem(name) });
    }

    QString path(const QString &file) const { return m_dir.filePath(file); }

    // An intermediate authority `name` signed by `authority`.
    bool issueAuthority(const QString &name, const QString &authority)
    {
        const QString request = m_dir.filePath(name + QStringLiteral(".csr"));
        const QString extensions = m_dir.filePath(name + QStringLiteral(".ext"));
        QFile file(extensions);
        if (!file.open(QIODevice::WriteOnly)
            || file.write("basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n") < 0)
            return false;
        file.close();
        return openssl({ QStringLiteral("req"), QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                         key(name), QStringLiteral("-out"), request, QStringLiteral("-subj"), QStringLiteral("/CN=%1").arg(name) })
            && openssl({ QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request, QStringLiteral("-CA"),
                         pem(authority), QStringLiteral("-CAkey"), key(authority), QStringLiteral("-CAcreateserial"),
                         QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-extfile"), extensions,
                         QStringLiteral("-out"), pem(name) });
    }

    // NAME.pem made of the certificates of `parts`, in order, with the key of the first.
    bool chain(const QString &name, const QStringList &parts)
    {
        QByteArray pemText;
        for (const QString &part : parts) {
            QFile file(pem(part));
            if (!file.open(QIODevice::ReadOnly))
                return false;
            pemText += file.readAll();
        }
        QFile out(pem(name));
        QFile::remove(key(name));
        return out.open(QIODevice::WriteOnly) && out.write(pemText) == pemText.size()
            && QFile::copy(key(parts.constFirst()), key(name));
    }

private:
    bool openssl(const QStringList &arguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        if (process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
            return true;
        qWarning().noquote() << "openssl" << arguments.join(QLatin1Char(' ')) << process.readAll();
        return false;
    }

    QTemporaryDir m_dir;
};
