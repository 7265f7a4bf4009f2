#pragma once

#include <QByteArray>

// The bytes of the mirroring server's streams, as tests send them.
namespace mirrorstream {

QByteArray videoSize(quint32 width, quint32 height);
// A 12-byte header with the given first byte (flags) and payload length.
QByteArray header(quint8 flags, quint32 length);
QByteArray videoConfiguration(const QByteArray& parameterSets);
QByteArray videoPicture(const QByteArray& accessUnit);

QByteArray audioCodec(); // 00 72 61 77
QByteArray audioConfiguration(const QByteArray& payload);
QByteArray audioPcm(const QByteArray& pcm);

QByteArray clipboard(const QByteArray& utf8);
QByteArray clipboardAcknowledgement(quint64 sequence);
QByteArray uhidOutput(quint16 id, const QByteArray& data);

// Writes everything or returns false.
bool writeAll(int fd, const QByteArray& bytes);

} // namespace mirrorstream
