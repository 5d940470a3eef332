// The application as a process of its own, for tests that start it, kill it or start it twice:
//   appchild real|emulated [hide] [click:<object name>] [type:<object name>=<text>] [edit:<object name>=<text>] ...
// carries out the steps on the window as a user would, then prints "ready"; afterwards it prints "shown" each
// time the window is shown. type: confirms the text with Return; edit: leaves it being typed.
#include "app/application.h"
#include "app/mainwindow.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLineEdit>
#include <QTest>

#include <cstdio>

namespace {

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

class ShowReporter : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show)
            say("shown");
        return QObject::eventFilter(watched, event);
    }
};

void carry_out(MainWindow &window, const QString &step)
{
    if (step == QLatin1String("hide")) {
        window.hide();
    } else if (step.startsWith(QLatin1String("click:"))) {
        window.findChild<QAbstractButton *>(step.mid(6))->click();
    } else if (step.startsWith(QLatin1String("type:")) || step.startsWith(QLatin1String("edit:"))) {
        const qsizetype equals = step.indexOf(QLatin1Char('='));
        auto *field = window.findChild<QLineEdit *>(step.mid(5, equals - 5));
        field->setFocus();
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QTest::keyClicks(field, step.mid(equals + 1));
        if (step.startsWith(QLatin1String("type:")))
            QTest::keyClick(field, Qt::Key_Return);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    const bool emulated = argc > 1 && qstrcmp(argv[1], "emulated") == 0;
    QStringList steps;
    for (int i = 2; i < argc; ++i)
        steps.append(QString::fromLocal8Bit(argv[i]));
    return run_korvel_control(argc, argv, emulated ? AppIdentity::emulated() : AppIdentity::korvel_control(),
                              [&steps](MainWindow &window) {
                                  for (const QString &step : steps)
                                      carry_out(window, step);
                                  say("ready");
                                  window.installEventFilter(new ShowReporter(&window));
                              });
}
