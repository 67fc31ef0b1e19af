#include "MapWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstring>
#include <gtest/gtest.h>

namespace {
void putInt32(QByteArray &out, qint32 value) {
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((static_cast<quint32>(value) >> (8 * i)) & 0xFF));
}
void putInt16(QByteArray &out, qint16 value) {
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((static_cast<quint16>(value) >> 8) & 0xFF));
}
// `value`'s bytes at `offset` of `record`, least significant first.
template <typename T> void putAt(QByteArray &record, int offset, T value) {
    static_assert(sizeof(T) == 4);
    quint32 bits = 0;
    std::memcpy(&bits, &value, 4);
    for (int i = 0; i < 4; ++i)
        record[offset + i] = char((bits >> (8 * i)) & 0xFF);
}
// A length byte and a fixed field, padded with NUL bytes.
void putText(QByteArray &out, const QByteArray &text, std::optional<int> length, int fieldSize) {
    out.append(static_cast<char>(length.value_or(int(text.size()))));
    QByteArray field = text.left(fieldSize);
    field.append(QByteArray(fieldSize - field.size(), '\0'));
    out.append(field);
}
} // namespace

QByteArray buildMap(const MapSpec &spec) {
    QByteArray out;
    putInt32(out, spec.version);
    putText(out, spec.description, spec.descriptionLength, 38);
    putText(out, spec.texture, spec.textureLength, 24);
    out.append(QByteArray(20, '\x11'));
    putInt32(out, spec.polygonCount + qint32(spec.triangles.size()));
    out.append(QByteArray(121 * std::max(spec.polygonCount, 0), '\x22'));
    for (size_t t = 0; t < spec.triangles.size(); ++t) {
        QByteArray record(121, '\0');
        for (int i = 0; i < 3; ++i) {
            putAt(record, 28 * i, spec.triangles[t][2 * i]);
            putAt(record, 28 * i + 4, spec.triangles[t][2 * i + 1]);
            putAt(record, 28 * i + 16, t < spec.colours.size() ? spec.colours[t] : 0xFFFFFFFFu);
        }
        record[120] = char(t < spec.types.size() ? spec.types[t] : 0);
        out.append(record);
    }
    out.append(QByteArray(4, '\x33'));
    putInt32(out, spec.sectorGrid);
    for (qint16 count : spec.sectorCounts) {
        putInt16(out, count);
        out.append(QByteArray(2 * std::max<int>(count, 0), '\x44'));
    }
    std::vector<MapSpec::Prop> props;
    for (size_t i = 0; !spec.props && i < spec.sceneries.size(); ++i)
        props.push_back({quint16(i + 1)});
    if (spec.props)
        props = *spec.props;
    putInt32(out, spec.propCount.value_or(qint32(props.size())));
    for (const MapSpec::Prop &prop : props) {
        QByteArray record(44, '\x55'); // filler in the fields the reader has no use for here
        record[0] = char(prop.active);
        record[2] = char(prop.style & 0xFF);
        record[3] = char(prop.style >> 8);
        record[40] = char(prop.level);
        if (const auto &at = prop.place) {
            for (const auto &[offset, value] : {std::pair{12, at->x},
                                                {16, at->y},
                                                {20, at->rotation},
                                                {24, at->scaleX},
                                                {28, at->scaleY}})
                putAt(record, offset, value);
            putAt(record, 4, at->width);
            putAt(record, 8, at->height);
            putAt(record, 32, quint32(0xFFFFFFFF)); // alpha, then filler
            putAt(record, 36, quint32(0xFFFFFFFF));
        }
        out.append(record);
    }
    putInt32(out, spec.sceneryCount.value_or(qint32(spec.sceneries.size())));
    for (const auto &scenery : spec.sceneries) {
        putText(out, scenery.name, scenery.length, 50);
        out.append(QByteArray(4, '\x66'));
    }
    for (size_t i = 0; spec.laterCounts && i < 3; ++i) {
        putInt32(out, (*spec.laterCounts)[i]);
        out.append(QByteArray((i < 2 ? 16 : 112) * std::max((*spec.laterCounts)[i], 0), '\x77'));
    }
    out.append(spec.trailing);
    return out;
}

void writeMap(const QString &path, const MapSpec &spec) {
    writeBytes(path, buildMap(spec));
}
