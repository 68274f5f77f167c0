#pragma once

#include "appserver/metrics/databasehealth.h"

#include <QObject>
#include <QString>

// Asks the database one cheap question through a connection opened for it and
// closed after: it reads a SQLite file without ever making one, and bounds a
// PostgreSQL connect and statement by DatabaseHealth::kAnswerTimeLimitMs.
class DatabaseProbe : public QObject
{
    Q_OBJECT

public:
    explicit DatabaseProbe(QString databaseAddress);

    void probe();

signals:
    void probed(const DatabaseHealth::Status &status);

private:
    DatabaseHealth::Status ask();

    QString m_databaseAddress;
};
