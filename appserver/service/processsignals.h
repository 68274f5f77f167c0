#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM and SIGINT (stop) and SIGHUP (reload) as Qt signals of the main thread:
// the handler only writes the signal's number to a pipe the event loop watches, so
// it may arrive on any thread, at any moment.
class ProcessSignals : public QObject
{
    Q_OBJECT

public:
    explicit ProcessSignals(QObject *parent = nullptr);
    ~ProcessSignals() override;

signals:
    void stopRequested();
    void reloadRequested();

private:
    void readPipe();

    QSocketNotifier *m_notifier = nullptr;
};
