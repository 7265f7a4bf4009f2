#include "MTPDatasets.h"

#include "MTPCodes.h"
#include "MTPReader.h"
#include "MTPWriter.h"

namespace mtp {

bool ObjectInfo::isDirectory() const
{
    return format == Format::association;
}

ObjectInfo readObjectInfo(const QByteArray& data)
{
    MTPReader reader(data);
    ObjectInfo info;
    reader.u32(); // storage
    info.format = reader.u16();
    reader.u16(); // protection status
    info.size = reader.u32();
    reader.skip(26); // thumbnail and image fields
    info.parent = reader.u32();
    reader.skip(10); // association and sequence fields
    info.name = reader.string();
    reader.string(); // creation date
    info.modified = MTPObject::date(reader.string());
    return info;
}

QByteArray writeObjectInfo(const QString& name, uint16_t format, int64_t size, const QDateTime& modified)
{
    MTPWriter writer;
    writer.u32(0); // storage and parent travel as SendObjectInfo parameters
    writer.u16(format);
    writer.u16(0);
    writer.u32(size >= 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(std::max<int64_t>(size, 0)));
    writer.u16(0);
    for (int i = 0; i < 7; ++i)
        writer.u32(0);
    writer.u16(format == Format::association ? 1 : 0);
    writer.u32(0);
    writer.u32(0);
    const QString date = MTPObject::dateString(modified);
    writer.string(name);
    writer.string(date);
    writer.string(date);
    writer.string(QString());
    return writer.data;
}

StorageInfo readStorageInfo(const QByteArray& data)
{
    MTPReader reader(data);
    reader.skip(6); // storage type, file system type, access capability
    StorageInfo info;
    info.maxCapacity = reader.u64();
    info.freeSpace = reader.u64();
    return info;
}

} // namespace mtp
