// Draws every picture the windows show, so that the artwork is ours and can be remade:
//   icon-<n>.png   the program's logo at 16..256 pixels (a padlock on a blue tile)
//   kestrove.ico   the same logo in every size, for the Windows program file
//   title.png      the 256 x 25 title strip: logo, name, and the red close cross at its right end
//   encrypt.png    100 x 109: black-and-white noise in a light-green frame
//   decrypt.png    100 x 109: a colour landscape in a light-green frame
// Usage: kestrove_artwork OUTPUT_FOLDER
#include <QBuffer>
#include <QColor>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTextStream>

#include <cstdint>

namespace {

const QColor kWindowBlue(0, 0, 192);
const QColor kFrameGreen(152, 251, 152);
const QColor kFrameShade(96, 200, 96);

// Deterministic, so that regenerating gives the same bytes.
class XorShift {
  public:
    explicit XorShift(std::uint32_t seed) : m_state(seed) {}
    std::uint32_t Next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }

  private:
    std::uint32_t m_state;
};

QImage NewImage(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    return image;
}

// The logo: a gold padlock on a rounded blue tile, drawn in a size x size square at origin.
void DrawLogo(QPainter& p, QPointF origin, qreal size) {
    p.save();
    p.translate(origin);
    p.scale(size / 64.0, size / 64.0);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient tile(0, 0, 0, 64);
    tile.setColorAt(0, QColor(70, 120, 255));
    tile.setColorAt(1, QColor(0, 0, 150));
    p.setPen(QPen(QColor(220, 230, 255), 2.5));
    p.setBrush(tile);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 12, 12);

    // Shackle.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(235, 235, 245), 7, Qt::SolidLine, Qt::FlatCap));
    QPainterPath shackle;
    shackle.moveTo(20, 32);
    shackle.lineTo(20, 22);
    shackle.arcTo(QRectF(20, 9, 24, 26), 180, -180);
    shackle.lineTo(44, 32);
    p.drawPath(shackle);

    // Body.
    QLinearGradient gold(0, 28, 0, 56);
    gold.setColorAt(0, QColor(255, 221, 87));
    gold.setColorAt(1, QColor(214, 150, 20));
    p.setPen(QPen(QColor(120, 80, 0), 1.5));
    p.setBrush(gold);
    p.drawRoundedRect(QRectF(13, 28, 38, 28), 5, 5);

    // Keyhole.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 35, 0));
    p.drawEllipse(QPointF(32, 38.5), 4.5, 4.5);
    QPolygonF slot;
    slot << QPointF(29.5, 40) << QPointF(34.5, 40) << QPointF(35.5, 50) << QPointF(28.5, 50);
    p.drawPolygon(slot);
    p.restore();
}

QImage Icon(int size) {
    QImage image = NewImage(size, size);
    QPainter p(&image);
    DrawLogo(p, QPointF(0, 0), size);
    return image;
}

QImage TitleStrip() {
    QImage image = NewImage(256, 25);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient band(0, 0, 0, 25);
    band.setColorAt(0, QColor(60, 90, 240));
    band.setColorAt(0.45, kWindowBlue);
    band.setColorAt(1, QColor(0, 0, 140));
    p.fillRect(image.rect(), band);
    p.setPen(QColor(150, 170, 255));
    p.drawLine(QPointF(0, 24.5), QPointF(256, 24.5));

    DrawLogo(p, QPointF(3, 2), 21);

    QFont name(QStringLiteral("DejaVu Sans"));
    name.setPixelSize(15);
    name.setBold(true);
    p.setFont(name);
    p.setPen(QColor(0, 0, 60));
    p.drawText(QRectF(31, 1, 150, 25), Qt::AlignVCenter, QStringLiteral("Kestrove"));
    p.setPen(Qt::white);
    p.drawText(QRectF(30, 0, 150, 25), Qt::AlignVCenter, QStringLiteral("Kestrove"));
    QFont version = name;
    version.setPixelSize(10);
    version.setBold(false);
    p.setFont(version);
    p.setPen(QColor(190, 205, 255));
    p.drawText(QRectF(110, 3, 40, 25), Qt::AlignVCenter, QStringLiteral("1.0"));

    // The close cross sits under the quit label (x 228..255).
    QRectF box(232, 3, 20, 19);
    QLinearGradient red(0, box.top(), 0, box.bottom());
    red.setColorAt(0, QColor(255, 110, 90));
    red.setColorAt(1, QColor(200, 20, 10));
    p.setPen(QPen(QColor(255, 220, 220), 1));
    p.setBrush(red);
    p.drawRoundedRect(box, 4, 4);
    p.setPen(QPen(Qt::white, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(box.topLeft() + QPointF(6, 5.5), box.bottomRight() - QPointF(6, 5.5));
    p.drawLine(QPointF(box.right() - 6, box.top() + 5.5),
               QPointF(box.left() + 6, box.bottom() - 5.5));
    return image;
}

void DrawFrame(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kFrameGreen, 5));
    p.drawRect(QRectF(2.5, 2.5, 95, 104));
    p.setPen(QPen(kFrameShade, 1));
    p.drawRect(QRectF(0.5, 0.5, 99, 108));
    p.drawRect(QRectF(5.5, 5.5, 89, 98));
}

QImage EncryptTarget() {
    QImage image = NewImage(100, 109);
    XorShift random(0x4B657374u);
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb value = (random.Next() >> 7) & 1 ? qRgb(250, 250, 250) : qRgb(10, 10, 10);
            for (int dy = 0; dy < 2 && y + dy < image.height(); ++dy) {
                for (int dx = 0; dx < 2; ++dx) {
                    image.setPixel(x + dx, y + dy, value);
                }
            }
        }
    }
    QPainter p(&image);
    DrawFrame(p);
    return image;
}

QImage DecryptTarget() {
    QImage image = NewImage(100, 109);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 70);
    sky.setColorAt(0, QColor(40, 110, 230));
    sky.setColorAt(1, QColor(170, 220, 255));
    p.fillRect(image.rect(), sky);

    QRadialGradient sun(QPointF(72, 28), 16);
    sun.setColorAt(0, QColor(255, 250, 180));
    sun.setColorAt(0.55, QColor(255, 210, 40));
    sun.setColorAt(1, QColor(255, 210, 40, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(sun);
    p.drawEllipse(QPointF(72, 28), 16, 16);

    QPainterPath mountains;
    mountains.moveTo(0, 72);
    mountains.lineTo(18, 44);
    mountains.lineTo(34, 60);
    mountains.lineTo(52, 38);
    mountains.lineTo(76, 66);
    mountains.lineTo(100, 50);
    mountains.lineTo(100, 109);
    mountains.lineTo(0, 109);
    p.setBrush(QColor(120, 90, 170));
    p.drawPath(mountains);

    QLinearGradient grass(0, 66, 0, 109);
    grass.setColorAt(0, QColor(110, 200, 60));
    grass.setColorAt(1, QColor(30, 120, 30));
    QPainterPath hills;
    hills.moveTo(0, 78);
    hills.cubicTo(30, 62, 60, 86, 100, 70);
    hills.lineTo(100, 109);
    hills.lineTo(0, 109);
    p.setBrush(grass);
    p.drawPath(hills);

    // A house with a red roof, and flowers in the grass.
    p.setBrush(QColor(250, 240, 220));
    p.drawRect(QRectF(60, 78, 16, 12));
    p.setBrush(QColor(210, 40, 30));
    p.drawPolygon(QPolygonF() << QPointF(57, 79) << QPointF(68, 69) << QPointF(79, 79));
    p.setBrush(QColor(120, 70, 30));
    p.drawRect(QRectF(66, 83, 4, 7));

    const QColor petals[] = {QColor(255, 60, 120), QColor(255, 230, 0), QColor(180, 80, 255),
                             QColor(255, 140, 0), QColor(255, 255, 255)};
    XorShift random(0x466C6F77u);
    for (int i = 0; i < 22; ++i) {
        const qreal x = 8 + random.Next() % 84;
        const qreal y = 88 + random.Next() % 14;
        p.setBrush(petals[i % 5]);
        p.drawEllipse(QPointF(x, y), 1.8, 1.8);
    }

    // A kestrel hovering.
    p.setPen(QPen(QColor(90, 50, 20), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QPainterPath bird;
    bird.moveTo(22, 26);
    bird.quadTo(27, 20, 31, 26);
    bird.quadTo(35, 20, 40, 26);
    p.drawPath(bird);

    DrawFrame(p);
    return image;
}

bool Save(const QImage& image, const QDir& folder, const QString& name) {
    const QString path = folder.filePath(name);
    if (!image.save(path, "PNG")) {
        QTextStream(stderr) << "cannot write " << path << '\n';
        return false;
    }
    return true;
}

// A Windows icon file holding every size, each entry a PNG image (read by Windows Vista on).
bool SaveIcon(const QList<int>& sizes, const QDir& folder, const QString& name) {
    QList<QByteArray> images;
    for (int size : sizes) {
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        Icon(size).save(&buffer, "PNG");
        images.append(png);
    }
    QByteArray ico;
    QDataStream out(&ico, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(sizes.size());
    quint32 offset = 6 + 16 * quint32(sizes.size());
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const quint8 side = sizes[i] >= 256 ? 0 : quint8(sizes[i]);  // 0 stands for 256
        out << side << side << quint8(0) << quint8(0) << quint16(1) << quint16(32)
            << quint32(images[i].size()) << offset;
        offset += quint32(images[i].size());
    }
    for (const QByteArray& png : images) {
        out.writeRawData(png.constData(), int(png.size()));
    }
    QFile file(folder.filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(ico) != ico.size()) {
        QTextStream(stderr) << "cannot write " << file.fileName() << '\n';
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        QTextStream(stderr) << "usage: kestrove_artwork OUTPUT_FOLDER\n";
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!folder.mkpath(QStringLiteral("."))) {
        QTextStream(stderr) << "cannot create the output folder\n";
        return 1;
    }
    bool ok = true;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        ok = Save(Icon(size), folder, QStringLiteral("icon-%1.png").arg(size)) && ok;
    }
    ok = SaveIcon({16, 24, 32, 48, 64, 128, 256}, folder, QStringLiteral("kestrove.ico")) && ok;
    ok = Save(TitleStrip(), folder, QStringLiteral("title.png")) && ok;
    ok = Save(EncryptTarget(), folder, QStringLiteral("encrypt.png")) && ok;
    ok = Save(DecryptTarget(), folder, QStringLiteral("decrypt.png")) && ok;
    return ok ? 0 : 1;
}
