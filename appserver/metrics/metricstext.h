#pragma once

#include "appserver/metrics/servermetrics.h"

#include <QByteArray>

// The metrics in Prometheus' text exposition format, version 0.0.4: a HELP and a
// TYPE line for every metric, names prefixed qlx_, every label value listed even
// while its count is 0.
namespace MetricsText {

inline constexpr char kContentType[] = "text/plain; version=0.0.4; charset=utf-8";

QByteArray render(const ServerMetrics::Snapshot &metrics);

} // namespace MetricsText
