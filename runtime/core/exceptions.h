#pragma once

#include "runtime/core/export.h"

#include <QByteArray>
#include <QString>
#include <exception>

// The runtime's exception hierarchy. Failures travel as these; event dispatch
// decides how each one reaches the user.
class QLX_EXPORT Exception : public std::exception
{
public:
    explicit Exception(const QString &message);
    ~Exception() override;
    const QString &message() const { return m_message; }
    const char *what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// The silent abort: ends the running action without a message of its own.
class QLX_EXPORT EAbort : public Exception
{
public:
    EAbort();
    ~EAbort() override;
};

class QLX_EXPORT EConvertError : public Exception
{
public:
    using Exception::Exception;
    ~EConvertError() override;
};

// An input/output failure, carrying the operating system's error text.
class QLX_EXPORT EInOutError : public Exception
{
public:
    EInOutError(const QString &message, int errorCode);
    ~EInOutError() override;
    int errorCode() const { return m_errorCode; }

private:
    int m_errorCode;
};

class QLX_EXPORT EDatabaseError : public Exception
{
public:
    using Exception::Exception;
    ~EDatabaseError() override;
};

// The connection to the application server failed or broke.
class QLX_EXPORT ESocketError : public Exception
{
public:
    using Exception::Exception;
    ~ESocketError() override;
};

// The connection broke while a call waited on it: the server closed it or went
// away before the final frame of the answer (not a time-out).
class QLX_EXPORT EConnectionLost : public ESocketError
{
public:
    using ESocketError::ESocketError;
    ~EConnectionLost() override;
};

// The application server could not dispatch a call or failed unexpectedly.
class QLX_EXPORT ERemoteError : public Exception
{
public:
    ERemoteError(const QString &remoteClass, const QString &message);
    ~ERemoteError() override;
    const QString &remoteClass() const { return m_remoteClass; }

private:
    QString m_remoteClass;
};
