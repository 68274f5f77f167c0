#include "runtime/core/exceptions.h"

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

// Out of line, so that each class's type information lives in this library only.
Exception::~Exception() = default;
EAbort::~EAbort() = default;
EConvertError::~EConvertError() = default;
EInOutError::~EInOutError() = default;
EDatabaseError::~EDatabaseError() = default;
ESocketError::~ESocketError() = default;
EConnectionLost::~EConnectionLost() = default;
ERemoteError::~ERemoteError() = default;
