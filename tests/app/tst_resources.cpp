#include <QColor>
#include <QFile>
#include <QImage>
#include <QTest>
#include <QXmlStreamReader>

namespace {

struct SvgFacts {
    QString width, height, radius, blur;
    QStringList stops; // gradient stop colours, in order
    QStringList fills; // circle fills, in order
    bool ok = false;
};

SvgFacts read_svg(const QString &path)
{
    SvgFacts facts;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return facts;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const auto attrs = xml.attributes();
        if (xml.name() == u"svg") {
            facts.width = attrs.value("width").toString();
            facts.height = attrs.value("height").toString();
        } else if (xml.name() == u"circle") {
            facts.radius = attrs.value("r").toString();
            facts.fills << attrs.value("fill").toString();
        } else if (xml.name() == u"stop") {
            facts.stops << attrs.value("stop-color").toString();
        } else if (xml.name() == u"feGaussianBlur") {
            facts.blur = attrs.value("stdDeviation").toString();
        }
    }
    facts.ok = !xml.hasError();
    return facts;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void trayIcons_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("green");
        QTest::newRow("gray") << ":/resources/png/icon_gray.png" << false;
        QTest::newRow("green") << ":/resources/png/icon_green.png" << true;
    }

    void trayIcons()
    {
        QFETCH(QString, path);
        QFETCH(bool, green);
        const QImage image(path);
        QVERIFY(!image.isNull());
        QCOMPARE(image.size(), QSize(256, 256));
        QVERIFY(image.hasAlphaChannel());

        // Curved corners: the very corners are transparent, the square's body is opaque.
        for (const QPoint corner : {QPoint(0, 0), QPoint(255, 0), QPoint(0, 255), QPoint(255, 255)})
            QCOMPARE(image.pixelColor(corner).alpha(), 0);
        const QColor body = image.pixelColor(30, 200);
        QCOMPARE(body.alpha(), 255);
        if (green) {
            QVERIFY2(body.hslHue() > 90 && body.hslHue() < 150, qPrintable(body.name()));
            QVERIFY(body.hslSaturation() > 100);
        } else {
            QVERIFY2(body.hslSaturation() < 40, qPrintable(body.name()));
        }

        // The glyph is light against the square: a node, and a point on a joining line.
        for (const QPoint glyph : {QPoint(80, 128), QPoint(172, 72), QPoint(172, 184), QPoint(126, 100)}) {
            const QColor c = image.pixelColor(glyph);
            QVERIFY2(c.lightness() > 200, qPrintable(QString("%1,%2").arg(glyph.x()).arg(glyph.y())));
        }
        QVERIFY(body.lightness() < 150);
    }

    void trayIconsReadAtTraySize_data() { trayIcons_data(); }

    void trayIconsReadAtTraySize()
    {
        // At 22 pixels the glyph still stands apart from the square.
        QFETCH(QString, path);
        const QImage small = QImage(path)
                                 .scaled(22, 22, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_ARGB32);
        const int node = small.pixelColor(7, 11).lightness();
        const int square = small.pixelColor(3, 18).lightness();
        QVERIFY2(node - square > 80, qPrintable(QString("node %1, square %2").arg(node).arg(square)));
    }

    void leds_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QStringList>("stops");
        QTest::addColumn<QString>("fill");
        QTest::addColumn<QString>("blur");

        QTest::newRow("red on") << ":/resources/svg/led_red_on.svg"
                                << "18" << QStringList{"#FFE4DB", "#FE4545"} << "url(#lit)"
                                << "1.05586";
        QTest::newRow("green on") << ":/resources/svg/led_grn_on.svg"
                                  << "18" << QStringList{"#E2FFE7", "#39FF39"} << "url(#lit)"
                                  << "1.05586";
        QTest::newRow("blue on") << ":/resources/svg/led_blue_on.svg"
                                 << "18" << QStringList{"#E2FFFF", "#36B7FF"} << "url(#lit)"
                                 << "1.05586";
        QTest::newRow("white on") << ":/resources/svg/led_white_on.svg"
                                  << "18" << QStringList{} << "white"
                                  << "1.05586";
        QTest::newRow("red off") << ":/resources/svg/led_red_off.svg"
                                 << "14" << QStringList{} << "#682A2A"
                                 << "";
        QTest::newRow("green off") << ":/resources/svg/led_grn_off.svg"
                                   << "14" << QStringList{} << "#1A4B1F"
                                   << "";
        QTest::newRow("blue off") << ":/resources/svg/led_blue_off.svg"
                                  << "14" << QStringList{} << "#2A2A58"
                                  << "";
        QTest::newRow("white off") << ":/resources/svg/led_white_off.svg"
                                   << "14" << QStringList{} << "#464646"
                                   << "";
    }

    void leds()
    {
        QFETCH(QString, path);
        QFETCH(QString, size);
        QFETCH(QStringList, stops);
        QFETCH(QString, fill);
        QFETCH(QString, blur);
        const SvgFacts svg = read_svg(path);
        QVERIFY(svg.ok);
        QCOMPARE(svg.width, size);
        QCOMPARE(svg.height, size);
        QCOMPARE(svg.radius.toDouble() * 2, 12.7);
        QCOMPARE(svg.stops, stops);
        QCOMPARE(svg.blur, blur);
        // The LED itself is the last circle drawn; a lit LED has its glow underneath.
        QVERIFY(!svg.fills.isEmpty());
        QCOMPARE(svg.fills.last(), fill);
        QCOMPARE(svg.fills.size(), blur.isEmpty() ? 1 : 2);
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
