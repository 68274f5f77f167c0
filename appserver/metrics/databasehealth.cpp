#include "appserver/metrics/databasehealth.h"

#include "appserver/metrics/databaseprobe.h"

DatabaseHealth::DatabaseHealth(QString databaseAddress, QObject *parent)
    : QObject(parent)
{
    auto *probe = new DatabaseProbe(std::move(databaseAddress));
    probe->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, probe, &QObject::deleteLater);
    connect(this, &DatabaseHealth::probeWanted, probe, &DatabaseProbe::probe);
    connect(probe, &DatabaseProbe::probed, this, &DatabaseHealth::probed);
    m_timeLimit.setSingleShot(true);
    m_timeLimit.setInterval(kAnswerTimeLimitMs);
    connect(&m_timeLimit, &QTimer::timeout, this, &DatabaseHealth::overdue);
    m_thread.setObjectName(QStringLiteral("health"));
    m_thread.start();
}

DatabaseHealth::~DatabaseHealth()
{
    // A probe still waiting ends within its own time limit.
    m_thread.quit();
    m_thread.wait();
}

void DatabaseHealth::check(Done done)
{
    // A probe past its time limit is still reported as not answering.
    if ((m_age.isValid() && m_age.elapsed() < kResultLifetimeMs) || (m_probing && m_overdue)) {
        done(m_last);
        return;
    }
    m_waiting.append(std::move(done));
    if (m_probing)
        return;
    m_probing = true;
    m_timeLimit.start();
    emit probeWanted();
}

void DatabaseHealth::probed(const Status &status)
{
    m_probing = false;
    m_overdue = false;
    m_timeLimit.stop();
    settle(status);
}

void DatabaseHealth::overdue()
{
    m_overdue = true;
    settle({ false, QStringLiteral("the database did not answer within %1 ms").arg(kAnswerTimeLimitMs) });
}

void DatabaseHealth::settle(const Status &status)
{
    m_last = status;
    m_age.start();
    const QList<Done> waiting = std::exchange(m_waiting, {});
    for (const Done &done : waiting)
        done(m_last);
}
