#include "runtime/widgets/methodbinding.h"

#include "runtime/core/exceptions.h"

#include <QMetaObject>

namespace {

int methodIndex(QObject *owner, const char *name, const char *parameters)
{
    const QByteArray signature = QMetaObject::normalizedSignature(QByteArray(name) + parameters);
    const int index = owner->metaObject()->indexOfMethod(signature.constData());
    if (index < 0)
        throw Exception(QStringLiteral("%1 não tem o método %2.")
                            .arg(QLatin1String(owner->metaObject()->className()), QLatin1String(signature)));
    return index;
}

} // namespace

TNotifyEvent NotifyHandlerByName(QObject *owner, const char *name)
{
    const int index = methodIndex(owner, name, "(QObject*)");
    return [owner, index](QObject *sender) {
        void *arguments[] = { nullptr, &sender };
        QMetaObject::metacall(owner, QMetaObject::InvokeMetaMethod, index, arguments);
    };
}

TCloseEvent CloseHandlerByName(QObject *owner, const char *name)
{
    const int index = methodIndex(owner, name, "(QObject*,TCloseAction&)");
    return [owner, index](QObject *sender, TCloseAction &action) {
        void *arguments[] = { nullptr, &sender, &action };
        QMetaObject::metacall(owner, QMetaObject::InvokeMetaMethod, index, arguments);
    };
}
