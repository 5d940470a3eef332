#include "console/valuelists.h"

#include <QTest>

using namespace korvel;

namespace {
// Every list, in its documented order, with its size and, for member lists, its member count.
struct ListFacts {
    const char *name;
    const QStringList *list;
    int size;
    int members; // -1: not a member list
    const char *first;
    const char *last_member;
};

const ListFacts all_lists[] = {
    {"gpo_trigger_names", &gpo_trigger_names, 14, -1, "off", "mod8_active"},
    {"gpo_mode_names", &gpo_mode_names, 2, -1, "non_inverted", "inverted"},
    {"gpo_type_names", &gpo_type_names, 4, -1, "continues", "pulse_by_on_off"},
    {"interval_unit_names", &interval_unit_names, 2, -1, "seconds", "minutes"},
    {"silence_source_names", &silence_source_names, 3, -1, "left", "stereo"},
    {"topic_names", &topic_names, 1, -1, "metering", "metering"},
    {"module_names", &module_names, 9, 8, "mod1", "mod8"},
    {"mic_module_names", &mic_module_names, 4, 3, "mod1", "mod3"},
    {"voicetrack_module_names", &voicetrack_module_names, 9, 8, "mod1", "mod8"},
    {"cue_names", &cue_names, 12, 11, "mod1", "air"},
    {"auto_cue_names", &auto_cue_names, 3, 2, "crm", "announcer"},
    {"ctrl_key_names", &ctrl_key_names, 17, 16, "a1", "b8"},
    {"gpo_names", &gpo_names, 3, 2, "gpo1", "gpo2"},
    {"studio_remote_module_names", &studio_remote_module_names, 4, 3, "mod1", "mod3"},
    {"on_air_names", &on_air_names, 3, 2, "on_air1", "on_air2"},
    {"module_source_names", &module_source_names, 8, -1, "mic", "voip"},
    {"led_color_names", &led_color_names, 3, -1, "off", "green"},
    {"blink_speed_names", &blink_speed_names, 3, -1, "slow", "fast"},
    {"switch_action_names", &switch_action_names, 3, -1, "off", "toggle"},
    {"track_state_names", &track_state_names, 3, -1, "stop", "end"},
    {"mic_on_mode_names", &mic_on_mode_names, 3, -1, "mic_on", "on_air2"},
};

const QStringList *list_named(const QString &name)
{
    for (const ListFacts &facts : all_lists)
        if (name == QLatin1String(facts.name))
            return facts.list;
    return nullptr;
}
} // namespace

class TestValueLists : public QObject {
    Q_OBJECT

private slots:
    void shape_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("members");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last_member");
        for (const ListFacts &facts : all_lists)
            QTest::newRow(facts.name) << QString::fromLatin1(facts.name) << facts.size << facts.members
                                      << QString::fromLatin1(facts.first) << QString::fromLatin1(facts.last_member);
    }

    void shape()
    {
        QFETCH(QString, name);
        QFETCH(int, size);
        QFETCH(int, members);
        QFETCH(QString, first);
        QFETCH(QString, last_member);
        const QStringList *list = list_named(name);
        QVERIFY(list);
        QCOMPARE(list->size(), size);
        QCOMPARE(list->first(), first);
        if (members < 0) {
            QCOMPARE(list->last(), last_member);
            QVERIFY(!list->contains(QStringLiteral("*")));
            return;
        }
        // "*" closes every member list, at the position equal to the member count.
        QCOMPARE(member_count(*list), members);
        QCOMPARE(list->last(), QStringLiteral("*"));
        QCOMPARE(lookup_word(*list, QStringLiteral("*")), members);
        QCOMPARE(name_of(*list, members - 1), last_member);
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("list");
        QTest::addColumn<QString>("word");
        QTest::addColumn<int>("position");
        QTest::newRow("mod1") << "module_names"
                              << "mod1" << 0;
        QTest::newRow("mod8") << "module_names"
                              << "mod8" << 7;
        QTest::newRow("all modules") << "module_names"
                                     << "*" << 8;
        QTest::newRow("upper case") << "module_names"
                                    << "MOD1" << -1;
        QTest::newRow("capitalised") << "module_names"
                                     << "Mod1" << -1;
        QTest::newRow("leading space") << "module_names"
                                       << " mod1" << -1;
        QTest::newRow("trailing space") << "module_names"
                                        << "mod1 " << -1;
        QTest::newRow("empty in module_names") << "module_names"
                                               << "" << -1;
        QTest::newRow("mod4 has no voice track") << "voicetrack_module_names"
                                                 << "mod4" << -1;
        QTest::newRow("voice track mod8") << "voicetrack_module_names"
                                          << "mod8" << 7;
        QTest::newRow("empty finds the first gap") << "voicetrack_module_names"
                                                   << "" << 3;
        QTest::newRow("all keys") << "ctrl_key_names"
                                  << "*" << 16;
        QTest::newRow("b1") << "ctrl_key_names"
                            << "b1" << 8;
        QTest::newRow("all gpos") << "gpo_names"
                                  << "*" << 2;
        QTest::newRow("air cue") << "cue_names"
                                 << "air" << 10;
        QTest::newRow("aux cue") << "cue_names"
                                 << "aux" << 8;
        QTest::newRow("announcer") << "auto_cue_names"
                                   << "announcer" << 1;
        QTest::newRow("repeated word finds the first") << "module_source_names"
                                                       << "usb" << 3;
        QTest::newRow("toggle") << "switch_action_names"
                                << "toggle" << 2;
        QTest::newRow("pulse_by_off") << "gpo_type_names"
                                      << "pulse_by_off" << 2;
        QTest::newRow("mod5_active") << "gpo_trigger_names"
                                     << "mod5_active" << 10;
        QTest::newRow("metering") << "topic_names"
                                  << "metering" << 0;
    }

    void lookup()
    {
        QFETCH(QString, list);
        QFETCH(QString, word);
        QFETCH(int, position);
        const QStringList *words = list_named(list);
        QVERIFY(words);
        QCOMPARE(lookup_word(*words, word), position);
        if (position >= 0)
            QCOMPARE(name_of(*words, position), word);
    }

    void voice_track_gaps()
    {
        for (int i = 3; i <= 6; ++i)
            QVERIFY(name_of(voicetrack_module_names, i).isEmpty());
        QCOMPARE(name_of(voicetrack_module_names, 7), QStringLiteral("mod8"));
    }

    void has_position_bounds()
    {
        QVERIFY(has_position(led_color_names, 0));
        QVERIFY(has_position(led_color_names, 2));
        QVERIFY(!has_position(led_color_names, 3));
        QVERIFY(!has_position(led_color_names, -1));
        QVERIFY(!has_position(led_color_names, 255));
    }
};

QTEST_GUILESS_MAIN(TestValueLists)
#include "tst_valuelists.moc"
