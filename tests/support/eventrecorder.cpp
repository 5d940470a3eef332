#include "eventrecorder.h"

#include "console/ckorvel.h"

EventRecorder::EventRecorder(CKorvel *console)
{
    const QMetaObject &meta = CKorvel::staticMetaObject;
    const int first_slot = QObject::staticMetaObject.methodCount();
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        const QMetaMethod method = meta.method(i);
        if (method.methodType() != QMetaMethod::Signal)
            continue;
        const int slot = first_slot + static_cast<int>(console_signals.size());
        if (!QMetaObject::connect(console, i, this, slot, Qt::DirectConnection, nullptr))
            qFatal("EventRecorder: cannot connect to %s", method.methodSignature().constData());
        console_signals << method;
    }
}

int EventRecorder::qt_metacall(QMetaObject::Call call, int id, void **args)
{
    id = QObject::qt_metacall(call, id, args);
    if (id < 0 || call != QMetaObject::InvokeMetaMethod)
        return id;
    if (id >= console_signals.size())
        return id - static_cast<int>(console_signals.size());

    const QMetaMethod &method = console_signals.at(id);
    Event event;
    event.signal = id;
    event.arg_count = method.parameterCount();
    for (int k = 0; k < event.arg_count && k < static_cast<int>(event.args.size()); ++k) {
        switch (method.parameterType(k)) {
        case QMetaType::Int:
            event.args[k] = *static_cast<const int *>(args[k + 1]);
            break;
        case QMetaType::Float:
            event.args[k] = *static_cast<const float *>(args[k + 1]);
            break;
        default:
            qFatal("EventRecorder: unexpected parameter type in %s", method.methodSignature().constData());
        }
    }
    recorded << event;
    if (on_event)
        on_event(event);
    return -1;
}

QStringList EventRecorder::texts() const
{
    QStringList texts;
    for (const Event &event : recorded) {
        QStringList args;
        for (int k = 0; k < event.arg_count; ++k)
            args << QString::number(event.args[k]);
        texts << QString::fromLatin1(console_signals.at(event.signal).name()) + u'(' + args.join(u',') + u')';
    }
    return texts;
}

QStringList EventRecorder::take()
{
    const QStringList result = texts();
    recorded.clear();
    return result;
}
