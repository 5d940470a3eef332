// The argument readers every console command shares: number conversion at the edges of the int range, member
// numbers, and the refusal each reader gives.
#include "console/valuelists.h"
#include "protocol/jsonargs.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTest>

#include <limits>

using namespace korvel;
using namespace korvel::jsonargs;

class TestDispatcherArgs : public QObject {
    Q_OBJECT

private slots:
    void to_int32_data()
    {
        QTest::addColumn<double>("number");
        QTest::addColumn<int>("integer");
        constexpr int lowest = std::numeric_limits<int>::min();
        constexpr int highest = std::numeric_limits<int>::max();
        QTest::newRow("7.9") << 7.9 << 7;
        QTest::newRow("-7.9") << -7.9 << -7;
        QTest::newRow("-0.5") << -0.5 << 0;
        QTest::newRow("-0.0") << -0.0 << 0;
        QTest::newRow("highest") << 2147483647.0 << highest;
        QTest::newRow("highest and a fraction") << 2147483647.75 << highest;
        QTest::newRow("just above") << 2147483648.0 << highest;
        QTest::newRow("lowest") << -2147483648.0 << lowest;
        QTest::newRow("lowest and a fraction") << -2147483648.5 << lowest;
        QTest::newRow("just below") << -2147483649.0 << lowest;
        QTest::newRow("1e300") << 1e300 << highest;
        QTest::newRow("-1e300") << -1e300 << lowest;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << highest;
        QTest::newRow("-infinity") << -std::numeric_limits<double>::infinity() << lowest;
        QTest::newRow("nan") << std::numeric_limits<double>::quiet_NaN() << 0;
        QTest::newRow("denormal") << 4.9e-324 << 0;
    }

    void to_int32()
    {
        QFETCH(double, number);
        QFETCH(int, integer);
        QCOMPARE(jsonargs::to_int32(number), integer);
    }

    void member_numbers()
    {
        QCOMPARE(member_number(module_names, "mod1"), 0);
        QCOMPARE(member_number(module_names, "mod8"), 7);
        QCOMPARE(member_number(module_names, "*"), 255);
        QCOMPARE(member_number(module_names, "MOD1"), -1);
        QCOMPARE(member_number(module_names, "mod1 "), -1);
        QCOMPARE(member_number(voicetrack_module_names, "mod8"), 7);
        QCOMPARE(member_number(voicetrack_module_names, "mod4"), -1);
        QCOMPARE(member_number(voicetrack_module_names, ""), -1);
        QCOMPARE(member_number(studio_remote_module_names, "*"), 255);
        // A list of fixed words without "*" does not take it.
        QCOMPARE(member_number(QStringList{"announcer", "crm"}, "*"), -1);
        QCOMPARE(member_number(QStringList{"announcer", "crm"}, "crm"), 1);
    }

    void refusal_texts()
    {
        QCOMPARE(invalid_key("data.mod9"), QStringLiteral("invalid key: 'data.mod9'"));
        QCOMPARE(invalid_type("data", Expected::String),
                 QStringLiteral("invalid data type for key: 'data', expected: String"));
        QCOMPARE(
            invalid_type("data.a3", Expected::StringOrObject),
            QStringLiteral("invalid data type for key: 'data.a3', expected: String (static) or Object (blinking)"));
        QCOMPARE(invalid_value(QStringLiteral("it's"), "data.mod1"),
                 QStringLiteral("invalid data value 'it's' for key: 'data.mod1'"));
        QCOMPARE(invalid_value(-2147483647 - 1, "data.gpo1.time"),
                 QStringLiteral("invalid data value '-2147483648' for key: 'data.gpo1.time'"));
        QCOMPARE(member_path(member_path("data", "gpo1"), "time"), QStringLiteral("data.gpo1.time"));
    }

    void readers_data()
    {
        QTest::addColumn<QString>("reader");
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("out");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const char *reader, const QJsonValue &value, bool accepted, int out,
                            const char *error) {
            QTest::newRow(name) << QString::fromLatin1(reader) << value << accepted << out
                                << QString::fromLatin1(error);
        };
        row("bool true", "bool", QJsonValue(true), true, 1, "");
        row("bool false", "bool", QJsonValue(false), true, 0, "");
        row("bool from 1", "bool", QJsonValue(1), false, -7, "invalid data type for key: 'data.k', expected: Bool");
        row("bool from null", "bool", QJsonValue(), false, -7, "invalid data type for key: 'data.k', expected: Bool");
        row("word red", "word", QJsonValue("red"), true, 1, "");
        row("word Red", "word", QJsonValue("Red"), false, -7, "invalid data value 'Red' for key: 'data.k'");
        row("word from array", "word", QJsonValue(QJsonArray{"red"}), false, -7,
            "invalid data type for key: 'data.k', expected: String");
        row("number 10", "number", QJsonValue(10), true, 10, "");
        row("number 255.99", "number", QJsonValue(255.99), true, 255, "");
        row("number 9.99", "number", QJsonValue(9.99), false, -7, "invalid data value '9' for key: 'data.k'");
        row("number huge", "number", QJsonValue(1e20), false, -7, "invalid data value '2147483647' for key: 'data.k'");
        row("number from string", "number", QJsonValue("50"), false, -7,
            "invalid data type for key: 'data.k', expected: Number");
        row("number from bool", "number", QJsonValue(true), false, -7,
            "invalid data type for key: 'data.k', expected: Number");
    }

    // A refused value leaves the output alone; an accepted one leaves the error text alone.
    void readers()
    {
        QFETCH(QString, reader);
        QFETCH(QJsonValue, value);
        QFETCH(bool, accepted);
        QFETCH(int, out);
        QFETCH(QString, error);
        int result = -7;
        QString text = QStringLiteral("untouched");
        bool ok = false;
        if (reader == "bool")
            ok = read_bool(value, "data.k", result, text);
        else if (reader == "word")
            ok = read_word(value, led_color_names, "data.k", result, text);
        else
            ok = read_number(value, 10, 255, "data.k", result, text);
        QCOMPARE(ok, accepted);
        QCOMPARE(result, out);
        QCOMPARE(text, accepted ? QStringLiteral("untouched") : error);
    }
};

QTEST_GUILESS_MAIN(TestDispatcherArgs)
#include "tst_dispatcher_args.moc"
