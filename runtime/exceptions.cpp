#include "exceptions.h"

Exception::Exception(const QString &message)
    : m_message(message)
    , m_utf8(message.toUtf8())
{
}

EAbort::EAbort()
    : Exception(QStringLiteral("Operation aborted"))
{
}

EInOutError::EInOutError(const QString &message, int errorCode)
    : Exception(message)
    , m_errorCode(errorCode)
{
}

ERemoteError::ERemoteError(const QString &remoteClass, const QString &message)
    : Exception(message)
    , m_remoteClass(remoteClass)
{
}
