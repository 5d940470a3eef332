#pragma once

#include <QList>
#include <QMetaMethod>
#include <QObject>
#include <QStringList>

#include <array>
#include <functional>

class CKorvel;

// Records every signal of a CKorvel, in emission order, through one generic receiver (the way QSignalSpy
// receives a signal), so the order across different signals is kept.
class EventRecorder : public QObject {
public:
    struct Event {
        int signal = 0; // index among the console's signals, 0 to 39
        int arg_count = 0;
        std::array<double, 6> args{};
    };

    explicit EventRecorder(CKorvel *console);

    const QList<Event> &events() const { return recorded; }
    // The events as text, such as "state_on_event(2,0)".
    QStringList texts() const;
    // The texts, then forgets them.
    QStringList take();
    void clear() { recorded.clear(); }
    const QMetaMethod &signal(int index) const { return console_signals.at(index); }
    int signal_count() const { return static_cast<int>(console_signals.size()); }

    // Called for every event as it is emitted, while the console is still inside the emission.
    std::function<void(const Event &)> on_event;

    int qt_metacall(QMetaObject::Call call, int id, void **args) override;

private:
    QList<QMetaMethod> console_signals;
    QList<Event> recorded;
};
