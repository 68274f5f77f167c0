#include "appserver/metrics/metricstext.h"


using namespace ServerMetrics;

namespace MetricsText {

namespace {

class Page
{
public:
    void head(const char *name, const char *type, const char *help)
    {
        m_text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const QByteArray &nameAndLabels, std::uint64_t value)
    {
        m_text += nameAndLabels + ' ' + QByteArray::number(quint64(value)) + '\n';
    }
    void sample(const QByteArray &nameAndLabels, std::int64_t value)
    {
        m_text += nameAndLabels + ' ' + QByteArray::number(qint64(value)) + '\n';
    }
    void sample(const QByteArray &nameAndLabels, double value)
    {
        m_text += nameAndLabels + ' ' + QByteArray::number(value, 'g', 17) + '\n';
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
};

QByteArray label(const char *name, const char *value)
{
    return QByteArray(name) + "=\"" + value + '"';
}

// A bucket's bound as Prometheus writes it: the shortest text that reads back as it.
QByteArray bound(double seconds)
{
    return QByteArray::number(seconds, 'g', 15);
}

} // namespace

QByteArray render(const Snapshot &metrics)
{
    Page page;
    page.head("qlx_sessions_open", "gauge", "Client sessions being served.");
    page.sample("qlx_sessions_open", metrics.sessionsOpen);
    page.head("qlx_sessions_in_handshake", "gauge",
              "Sessions whose TLS handshake is not complete, or whose plaintext client has sent no request yet.");
    page.sample("qlx_sessions_in_handshake", metrics.sessionsInHandshake);

    page.head("qlx_connections_refused_total", "counter", "Connections answered busy and closed, by cause.");
    for (int cause = 0; cause < kRefusals; ++cause)
        page.sample("qlx_connections_refused_total{" + label("cause", labelOf(Refusal(cause))) + '}', metrics.refused[cause]);

    page.head("qlx_calls_total", "counter", "Calls answered, by method and outcome.");
    for (int method = 0; method < kMethods; ++method) {
        for (int outcome = 0; outcome < kOutcomes; ++outcome)
            page.sample("qlx_calls_total{" + label("method", labelOf(Method(method))) + ','
                            + label("outcome", labelOf(Outcome(outcome))) + '}',
                        metrics.calls[method][outcome]);
    }

    page.head("qlx_script_lines_sent_total", "counter", "Script lines sent by GetPropriedCds.");
    page.sample("qlx_script_lines_sent_total", metrics.scriptLines);
    page.head("qlx_answer_bytes_sent_total", "counter", "Bytes of the answers' frames, headers included.");
    page.sample("qlx_answer_bytes_sent_total", metrics.answerBytes);

    page.head("qlx_call_duration_seconds", "histogram", "Time from a request read to the end of its answer.");
    for (int method = 0; method < kMethods; ++method) {
        const Duration &duration = metrics.durations[method];
        const QByteArray methodLabel = label("method", labelOf(Method(method)));
        std::uint64_t count = 0;
        for (std::size_t bucket = 0; bucket < duration.buckets.size(); ++bucket) {
            count += duration.buckets[bucket];
            const QByteArray le = bucket < kDurationBuckets.size() ? bound(kDurationBuckets[bucket]) : QByteArray("+Inf");
            page.sample("qlx_call_duration_seconds_bucket{" + methodLabel + ",le=\"" + le + "\"}", count);
        }
        page.sample("qlx_call_duration_seconds_sum{" + methodLabel + '}', double(duration.nanoseconds) / 1e9);
        page.sample("qlx_call_duration_seconds_count{" + methodLabel + '}', count);
    }

    page.head("qlx_database_reconnects_total", "counter",
              "Session connections opened anew after the database lost them.");
    page.sample("qlx_database_reconnects_total", metrics.databaseReconnects);
    page.head("qlx_tls_failures_total", "counter", "TLS connections that ended before any call was served, by reason.");
    for (int reason = 0; reason < kTlsFailures; ++reason)
        page.sample("qlx_tls_failures_total{" + label("reason", labelOf(TlsFailure(reason))) + '}',
                    metrics.tlsFailures[reason]);
    return page.text();
}

} // namespace MetricsText
