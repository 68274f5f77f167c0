#pragma once

#include "appserver/log/auditlog.h"

#include <QStringView>
#include <array>
#include <cstdint>

// The server's counters for an operator's scraper: process-wide, updated from every
// session's thread without a lock, read whole by the metrics page. Every label value
// comes from a fixed set, never from a text a client chose.
namespace ServerMetrics {

enum class Method { GetIdioma, GetTabela, GetPropriedCds, Other };
inline constexpr int kMethods = 4;
// ok; failure: reported in the result, over --max-answer, or cut short by a client
// that went; exception: an exception response.
enum class Outcome { Ok, Failure, Exception };
inline constexpr int kOutcomes = 3;
enum class Refusal { MaxClients, MaxClientsPerPrefix, MaxHandshakes, Descriptors, Threads };
inline constexpr int kRefusals = 5;
// handshake: it failed; client-certificate: missing or not the authority's;
// plaintext-client: no TLS from the first byte; chain-too-large: over the chain's limits.
enum class TlsFailure { Handshake, ClientCertificate, PlaintextClient, ChainTooLarge };
inline constexpr int kTlsFailures = 4;

// Upper bounds, in seconds, of the call duration's histogram buckets; one more
// bucket holds the longer calls.
inline constexpr std::array<double, 13> kDurationBuckets { 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5,
                                                          1, 2.5, 5, 10, 30, 60 };

const char *labelOf(Method method);
const char *labelOf(Outcome outcome);
const char *labelOf(Refusal refusal);
const char *labelOf(TlsFailure failure);

void sessionOpened();
void sessionClosed();
void handshakeStarted();
void handshakeEnded();
void connectionRefused(Refusal cause);
// A call whose answer ended, as the audit trail has it, and how long it took.
void callEnded(const AuditLog::Call &call, std::int64_t nanoseconds);
void databaseReconnected();
void tlsFailed(TlsFailure reason);

struct Duration
{
    std::array<std::uint64_t, kDurationBuckets.size() + 1> buckets {}; // each its own, not cumulative
    std::uint64_t nanoseconds = 0;
};

// The counters at one moment, each read on its own.
struct Snapshot
{
    std::int64_t sessionsOpen = 0;
    std::int64_t sessionsInHandshake = 0;
    std::array<std::uint64_t, kRefusals> refused {};
    std::array<std::array<std::uint64_t, kOutcomes>, kMethods> calls {};
    std::uint64_t scriptLines = 0;
    std::uint64_t answerBytes = 0;
    std::array<Duration, kMethods> durations {};
    std::uint64_t databaseReconnects = 0;
    std::array<std::uint64_t, kTlsFailures> tlsFailures {};
};
Snapshot snapshot();

} // namespace ServerMetrics
