#include "ADBTools.h"

#include "ADBParsing.h"

namespace {

const QString detailsScript = QStringLiteral(
    "echo \"Model=$(getprop ro.product.manufacturer) $(getprop ro.product.model)\"; "
    "echo \"Android=$(getprop ro.build.version.release) (API $(getprop ro.build.version.sdk))\"; "
    "echo \"Security patch=$(getprop ro.build.version.security_patch)\"; "
    "echo \"Build=$(getprop ro.build.display.id)\"; "
    "echo \"Screen=$(wm size | tail -n 1 | sed 's/.*: //') at $(wm density | tail -n 1 | sed 's/.*: //') dpi\"; "
    "echo \"Processor=$(getprop ro.product.cpu.abi)\"; "
    "echo \"Wi-Fi address=$(ip -f inet addr show wlan0 2>/dev/null | grep -o 'inet [0-9.]*' | cut -d' ' -f2)\"; "
    "echo \"Serial number=$(getprop ro.serialno)\"");

} // namespace

DeviceDetails ADB::details(const QString& serial, const Cancel& cancel) const
{
    return adbparse::details(shell(serial, detailsScript, cancel));
}
