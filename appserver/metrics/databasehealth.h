#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <functional>

// Whether the database answers, for a load balancer's health check: a cheap query
// through a connection of its own, in a thread of its own so that a slow database
// holds up no client. A result is kept for a moment, so that a scraper calling
// often cannot load the database; a database that does not answer in time is
// reported so, whatever the probe still waits for.
class DatabaseHealth : public QObject
{
    Q_OBJECT

public:
    // How long a probe may take before the database is reported as not answering.
    static constexpr int kAnswerTimeLimitMs = 3000;
    // How long a result is given again before the database is asked anew.
    static constexpr int kResultLifetimeMs = 1000;

    struct Status
    {
        bool answers = false;
        QString reason; // why not, in one line with no password
    };
    using Done = std::function<void(const Status &)>;

    explicit DatabaseHealth(QString databaseAddress, QObject *parent = nullptr);
    ~DatabaseHealth() override;

    // Calls `done`, in this object's thread, with the database's status.
    void check(Done done);

signals:
    void probeWanted();

private:
    void probed(const Status &status);
    void overdue();
    void settle(const Status &status);

    QThread m_thread;
    QTimer m_timeLimit;
    QElapsedTimer m_age; // of m_last
    Status m_last;
    bool m_probing = false;
    bool m_overdue = false;
    QList<Done> m_waiting;
};
