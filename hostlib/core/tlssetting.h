#pragma once

#include "runtime/core/export.h"
#include "runtime/core/tlsclient.h"

#include <QString>

// The TLS files of the connection to the application server. Read at every
// connect, each from the first of: the program's command-line option
// (SetTlsOptions), the environment variable (QLX_TLS_CA, QLX_TLS_CERT, QLX_TLS_KEY),
// the settings file's key (tls-ca, tls-cert, tls-key). TLS is on when an authority
// is set; a client certificate without an authority raises an Exception naming
// where it was read.
QLX_EXPORT TTlsFiles ConfiguredTls();
QLX_EXPORT void SetTlsOptions(const QString &caFile, const QString &certFile, const QString &keyFile);
