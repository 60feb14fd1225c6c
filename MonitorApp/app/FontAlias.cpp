#include "MonitorApp/app/FontAlias.h"

#include <QDirIterator>
#include <QFile>
#include <QFontDatabase>
#include <QStandardPaths>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace quenbril {

namespace {

uint32_t read32(const QByteArray& data, qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData() + at);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint16_t read16(const QByteArray& data, qsizetype at) {
    const auto* p = reinterpret_cast<const unsigned char*>(data.constData() + at);
    return uint16_t(p[0] << 8 | p[1]);
}
void put16(QByteArray& data, uint16_t v) {
    data.append(char(v >> 8));
    data.append(char(v & 0xff));
}
void write32(QByteArray& data, qsizetype at, uint32_t v) {
    for (int i = 0; i < 4; ++i) data[at + i] = char(v >> (24 - 8 * i));
}

uint32_t checksum(const QByteArray& table) {
    QByteArray padded = table;
    while (padded.size() % 4) padded.append('\0');
    uint32_t sum = 0;
    for (qsizetype i = 0; i < padded.size(); i += 4) sum += read32(padded, i);
    return sum;
}

/// A naming table of Windows Unicode English records: family, subfamily, full name and
/// PostScript name.
QByteArray nameTable(const QString& family, const QString& style) {
    QString postScript = family;
    postScript.remove(' ');
    const std::vector<std::pair<uint16_t, QString>> names = {
        {1, family}, {2, style}, {4, family + " " + style}, {6, postScript + "-" + style}};
    QByteArray strings;
    QByteArray table;
    put16(table, 0);
    put16(table, uint16_t(names.size()));
    put16(table, uint16_t(6 + 12 * names.size()));
    for (const auto& [id, text] : names) {
        QByteArray utf16;
        for (QChar c : text) put16(utf16, c.unicode());
        put16(table, 3);      // Windows
        put16(table, 1);      // Unicode BMP
        put16(table, 0x409);  // English (United States)
        put16(table, id);
        put16(table, uint16_t(utf16.size()));
        put16(table, uint16_t(strings.size()));
        strings.append(utf16);
    }
    return table + strings;
}

}  // namespace

QByteArray FontAlias::renamed(const QByteArray& font, const QString& family, const QString& style) {
    if (font.size() < 12) return {};
    const uint32_t version = read32(font, 0);
    if (version != 0x00010000 && version != 0x4F54544F /* OTTO */) return {};
    const uint16_t tables = read16(font, 4);
    if (font.size() < 12 + 16 * qsizetype(tables)) return {};
    for (uint16_t i = 0; i < tables; ++i) {
        const qsizetype record = 12 + 16 * qsizetype(i);
        if (font.mid(record, 4) != "name") continue;
        // The new naming table goes at the end, four-byte aligned; the old one stays unused.
        QByteArray out = font;
        while (out.size() % 4) out.append('\0');
        const QByteArray table = nameTable(family, style);
        write32(out, record + 4, checksum(table));
        write32(out, record + 8, uint32_t(out.size()));
        write32(out, record + 12, uint32_t(table.size()));
        out.append(table);
        return out;
    }
    return {};
}

bool FontAlias::registerFace(const QString& fileName, const QString& family, const QString& style) {
    QStringList folders = QStandardPaths::standardLocations(QStandardPaths::FontsLocation);
    folders << "/usr/share/fonts"
            << "/usr/local/share/fonts";
    for (const QString& folder : folders) {
        QDirIterator it(folder, {fileName}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (!file.open(QIODevice::ReadOnly)) continue;
            const QByteArray font = renamed(file.readAll(), family, style);
            if (!font.isEmpty() && QFontDatabase::addApplicationFontFromData(font) >= 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace quenbril
