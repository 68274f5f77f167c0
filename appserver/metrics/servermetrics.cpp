#include "appserver/metrics/servermetrics.h"

#include "protocol/contract.h"

#include <algorithm>
#include <atomic>

namespace ServerMetrics {

namespace {

// Counters only count: no other memory is ordered by them, so every access is relaxed.
constexpr auto kRelaxed = std::memory_order_relaxed;

struct AtomicDuration
{
    std::array<std::atomic<std::uint64_t>, kDurationBuckets.size() + 1> buckets {};
    std::atomic<std::uint64_t> nanoseconds { 0 };
};

struct Registry
{
    std::atomic<std::int64_t> sessionsOpen { 0 };
    std::atomic<std::int64_t> sessionsInHandshake { 0 };
    std::array<std::atomic<std::uint64_t>, kRefusals> refused {};
    std::array<std::array<std::atomic<std::uint64_t>, kOutcomes>, kMethods> calls {};
    std::atomic<std::uint64_t> scriptLines { 0 };
    std::atomic<std::uint64_t> answerBytes { 0 };
    std::array<AtomicDuration, kMethods> durations {};
    std::atomic<std::uint64_t> databaseReconnects { 0 };
    std::array<std::atomic<std::uint64_t>, kTlsFailures> tlsFailures {};
};

Registry &registry()
{
    static Registry metrics;
    return metrics;
}

Method methodOf(QStringView name)
{
    if (name == QLatin1String(protocol::contract::kGetIdioma))
        return Method::GetIdioma;
    if (name == QLatin1String(protocol::contract::kGetTabela))
        return Method::GetTabela;
    if (name == QLatin1String(protocol::contract::kGetPropriedCds))
        return Method::GetPropriedCds;
    return Method::Other;
}

// The audit trail's outcome: ok, failure, too-large, client-gone or an exception's class.
Outcome outcomeOf(QStringView outcome)
{
    if (outcome == QLatin1String("ok"))
        return Outcome::Ok;
    if (outcome == QLatin1String("failure") || outcome == QLatin1String("too-large")
        || outcome == QLatin1String("client-gone"))
        return Outcome::Failure;
    return Outcome::Exception;
}

} // namespace

const char *labelOf(Method method)
{
    static constexpr const char *kLabels[kMethods] = { "GetIdioma", "GetTabela", "GetPropriedCds", "other" };
    return kLabels[int(method)];
}

const char *labelOf(Outcome outcome)
{
    static constexpr const char *kLabels[kOutcomes] = { "ok", "failure", "exception" };
    return kLabels[int(outcome)];
}

const char *labelOf(Refusal refusal)
{
    static constexpr const char *kLabels[kRefusals] = { "max-clients", "max-clients-per-prefix", "max-handshakes", "descriptors",
                                                                     "threads" };
    return kLabels[int(refusal)];
}

const char *labelOf(TlsFailure failure)
{
    static constexpr const char *kLabels[kTlsFailures] = { "handshake", "client-certificate", "plaintext-client",
                                                           "chain-too-large" };
    return kLabels[int(failure)];
}

void sessionOpened() { registry().sessionsOpen.fetch_add(1, kRelaxed); }
void sessionClosed() { registry().sessionsOpen.fetch_sub(1, kRelaxed); }
void handshakeStarted() { registry().sessionsInHandshake.fetch_add(1, kRelaxed); }
void handshakeEnded() { registry().sessionsInHandshake.fetch_sub(1, kRelaxed); }
void connectionRefused(Refusal cause) { registry().refused[int(cause)].fetch_add(1, kRelaxed); }
void databaseReconnected() { registry().databaseReconnects.fetch_add(1, kRelaxed); }
void tlsFailed(TlsFailure reason) { registry().tlsFailures[int(reason)].fetch_add(1, kRelaxed); }

void callEnded(const AuditLog::Call &call, std::int64_t nanoseconds)
{
    Registry &metrics = registry();
    const Method method = methodOf(call.method);
    metrics.calls[int(method)][int(outcomeOf(call.outcome))].fetch_add(1, kRelaxed);
    if (method == Method::GetPropriedCds) // the other methods' rows are no script lines
        metrics.scriptLines.fetch_add(std::uint64_t(call.lines), kRelaxed);
    metrics.answerBytes.fetch_add(std::uint64_t(call.bytes), kRelaxed);
    const double seconds = double(nanoseconds) / 1e9;
    const auto bucket = std::lower_bound(kDurationBuckets.begin(), kDurationBuckets.end(), seconds) - kDurationBuckets.begin();
    AtomicDuration &duration = metrics.durations[int(method)];
    duration.buckets[std::size_t(bucket)].fetch_add(1, kRelaxed);
    duration.nanoseconds.fetch_add(std::uint64_t(std::max<std::int64_t>(nanoseconds, 0)), kRelaxed);
}

Snapshot snapshot()
{
    const Registry &metrics = registry();
    Snapshot now;
    now.sessionsOpen = metrics.sessionsOpen.load(kRelaxed);
    now.sessionsInHandshake = metrics.sessionsInHandshake.load(kRelaxed);
    for (int cause = 0; cause < kRefusals; ++cause)
        now.refused[cause] = metrics.refused[cause].load(kRelaxed);
    for (int method = 0; method < kMethods; ++method) {
        for (int outcome = 0; outcome < kOutcomes; ++outcome)
            now.calls[method][outcome] = metrics.calls[method][outcome].load(kRelaxed);
        for (std::size_t bucket = 0; bucket < now.durations[method].buckets.size(); ++bucket)
            now.durations[method].buckets[bucket] = metrics.durations[method].buckets[bucket].load(kRelaxed);
        now.durations[method].nanoseconds = metrics.durations[method].nanoseconds.load(kRelaxed);
    }
    now.scriptLines = metrics.scriptLines.load(kRelaxed);
    now.answerBytes = metrics.answerBytes.load(kRelaxed);
    now.databaseReconnects = metrics.databaseReconnects.load(kRelaxed);
    for (int reason = 0; reason < kTlsFailures; ++reason)
        now.tlsFailures[reason] = metrics.tlsFailures[reason].load(kRelaxed);
    return now;
}

} // namespace ServerMetrics
