#pragma once

#include "MTPObject.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstdint>

// The datasets the client reads and writes, as far as it uses them.
namespace mtp {

// The fields of an ObjectInfo dataset (a GetObjectInfo reply) that are read.
struct ObjectInfo {
    uint16_t format = 0;
    uint32_t size = 0; // 0xFFFFFFFF: the real size is too large for the field
    QString name;
    QDateTime modified;
    uint32_t parent = 0; // 0: the storage's root
    bool isDirectory() const;
};
ObjectInfo readObjectInfo(const QByteArray& data);

// An ObjectInfo dataset for SendObjectInfo.
QByteArray writeObjectInfo(const QString& name, uint16_t format, int64_t size, const QDateTime& modified);

// The sizes of a StorageInfo dataset (a GetStorageInfo reply).
struct StorageInfo {
    uint64_t maxCapacity = 0;
    uint64_t freeSpace = 0;
};
StorageInfo readStorageInfo(const QByteArray& data);

} // namespace mtp
