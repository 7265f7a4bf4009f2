#pragma once

#include <cstdint>

// Numbers of the Media Transfer Protocol (and the PTP container format it
// extends) that the client uses.
namespace mtp {

namespace Container {
constexpr uint16_t command = 1, data = 2, response = 3, event = 4;
constexpr uint32_t headerSize = 12;
constexpr uint32_t unboundedLength = 0xFFFFFFFF; // a data container of unannounced length
} // namespace Container

namespace Operation {
constexpr uint16_t getDeviceInfo = 0x1001;
constexpr uint16_t openSession = 0x1002;
constexpr uint16_t closeSession = 0x1003;
constexpr uint16_t getStorageIDs = 0x1004;
constexpr uint16_t getStorageInfo = 0x1005;
constexpr uint16_t getObjectHandles = 0x1007;
constexpr uint16_t getObjectInfo = 0x1008;
constexpr uint16_t getObject = 0x1009;
constexpr uint16_t deleteObject = 0x100B;
constexpr uint16_t sendObjectInfo = 0x100C;
constexpr uint16_t sendObject = 0x100D;
constexpr uint16_t getDevicePropValue = 0x1015;
constexpr uint16_t moveObject = 0x1019;
constexpr uint16_t setObjectPropValue = 0x9804;
constexpr uint16_t getObjectPropList = 0x9805;
} // namespace Operation

namespace Response {
constexpr uint16_t ok = 0x2001;
constexpr uint16_t generalError = 0x2002;
constexpr uint16_t sessionNotOpen = 0x2003;
constexpr uint16_t operationNotSupported = 0x2005;
constexpr uint16_t parameterNotSupported = 0x2006;
constexpr uint16_t invalidStorageID = 0x2008;
constexpr uint16_t invalidObjectHandle = 0x2009;
constexpr uint16_t devicePropNotSupported = 0x200A;
constexpr uint16_t storeFull = 0x200C;
constexpr uint16_t objectWriteProtected = 0x200D;
constexpr uint16_t storeReadOnly = 0x200E;
constexpr uint16_t accessDenied = 0x200F;
constexpr uint16_t noValidObjectInfo = 0x2015;
constexpr uint16_t deviceBusy = 0x2019;
constexpr uint16_t invalidParentObject = 0x201A;
constexpr uint16_t invalidParameter = 0x201D;
constexpr uint16_t sessionAlreadyOpen = 0x201E;
constexpr uint16_t transactionCancelled = 0x201F;
constexpr uint16_t invalidObjectPropCode = 0xA801;
} // namespace Response

namespace DeviceProperty {
constexpr uint16_t batteryLevel = 0x5001;
constexpr uint16_t deviceFriendlyName = 0xD402;
} // namespace DeviceProperty

namespace ObjectProperty {
constexpr uint16_t storageID = 0xDC01;
constexpr uint16_t objectFormat = 0xDC02;
constexpr uint16_t objectSize = 0xDC04;
constexpr uint16_t objectFileName = 0xDC07;
constexpr uint16_t dateModified = 0xDC09;
constexpr uint16_t parentObject = 0xDC0B;
} // namespace ObjectProperty

namespace DataType {
constexpr uint16_t int8 = 0x0001, uint8 = 0x0002, int16 = 0x0003, uint16 = 0x0004, int32 = 0x0005,
                   uint32 = 0x0006, int64 = 0x0007, uint64 = 0x0008, int128 = 0x0009, uint128 = 0x000A;
constexpr uint16_t arrayFlag = 0x4000;
constexpr uint16_t string = 0xFFFF;
} // namespace DataType

namespace Format {
constexpr uint16_t undefined = 0x3000;
constexpr uint16_t association = 0x3001; // a folder
} // namespace Format

// Still-image class requests on the control pipe.
namespace ClassRequest {
constexpr uint8_t requestType = 0x21;   // host to device, class, interface
constexpr uint8_t inRequestType = 0xA1; // device to host, class, interface
constexpr uint8_t cancel = 0x64;
constexpr uint8_t deviceReset = 0x66;
constexpr uint8_t getDeviceStatus = 0x67;
constexpr uint16_t cancellationCode = 0x4001;
} // namespace ClassRequest

// The handle that stands for the root of a storage.
constexpr uint32_t rootHandle = 0xFFFFFFFF;

// Whether a handle can name one object: 0 names none, and 0xFFFFFFFF is the
// root where a parent is meant but "every object" where an object is.
constexpr bool isObjectHandle(uint32_t handle)
{
    return handle != 0 && handle != rootHandle;
}

} // namespace mtp
