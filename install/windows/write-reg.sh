#!/bin/sh
# Writes the registry file that makes the J2534 library known to J2534 applications.
#
#   write-reg.sh [-w 64|32] [-c CONFIG_APPLICATION] DLL_PATH [OUTPUT]
#
# DLL_PATH is the Windows path of the installed vtxpts32.dll or vtxpts64.dll, e.g.
# 'C:\Program Files (x86)\VTX\J2534\vtxpts32.dll' (forward slashes are turned into
# backslashes). The file goes to OUTPUT, or to standard output when there is none.
#
# The file name tells the library's width: a name ending in 64.dll is the 64-bit library, which
# 64-bit applications find in their registry view, SOFTWARE itself (64-bit Windows only).
# Any other name is the 32-bit library:
# -w 64 (default): for 64-bit Windows, where 32-bit applications read the 32-bit registry view,
#                  stored under SOFTWARE\WOW6432Node.
# -w 32:           for 32-bit Windows, which has only the one view under SOFTWARE.
# On 64-bit Windows import the file with the 64-bit regedit (double click) or with
# "reg import FILE /reg:64", which takes the key paths as written.
# -c PATH:         the program the "ConfigApplication" value names (none by default).
set -eu

usage() {
    echo "usage: $0 [-w 64|32] [-c CONFIG_APPLICATION] DLL_PATH [OUTPUT]" >&2
    exit 2
}

fail() {
    printf '%s: %s\n' "$0" "$1" >&2
    exit 1
}

# A Windows path as a .reg string: slashes become backslashes, then backslashes and double
# quotes are escaped.
reg_string() {
    printf '%s' "$1" | tr '/' '\\' | sed -e 's/\\/\\\\/g' -e 's/"/\\"/g'
}

# Only plain printable ASCII: the file is written without a byte-order mark.
check_text() {
    if printf '%s' "$2" | LC_ALL=C grep -q '[^ -~]'; then
        fail "$1 holds characters other than printable ASCII: $2"
    fi
}

check_absolute() {
    case "$2" in
        [A-Za-z]:[\\/]*|[\\/][\\/]*) ;;
        *) fail "$1 is not an absolute Windows path: $2" ;;
    esac
}

# Whether the path's file name ends in 64.dll, in any case.
is_64bit_library() {
    printf '%s' "$1" | LC_ALL=C grep -qi '64\.dll$'
}

width=64
config_application=""
while getopts "w:c:" option; do
    case "$option" in
        w) width=$OPTARG ;;
        c) config_application=$OPTARG ;;
        *) usage ;;
    esac
done
shift $((OPTIND - 1))
[ $# -ge 1 ] && [ $# -le 2 ] || usage
dll_path=$1
output=${2:-}

case "$width" in
    64) software='SOFTWARE\WOW6432Node' ;;
    32) software='SOFTWARE' ;;
    *) usage ;;
esac
if is_64bit_library "$dll_path"; then
    [ "$width" = 64 ] || fail "a 64-bit library needs 64-bit Windows: $dll_path"
    software='SOFTWARE'
fi
check_text "DLL_PATH" "$dll_path"
check_absolute "DLL_PATH" "$dll_path"
if [ -n "$config_application" ]; then
    check_text "CONFIG_APPLICATION" "$config_application"
    check_absolute "CONFIG_APPLICATION" "$config_application"
fi

# Every protocol of J2534-1 version 04.04 that a device can announce, and whether this one
# supports it: CAN and ISO15765.
protocols="J1850VPW=0 J1850PWM=0 ISO9141=0 ISO14230=0 CAN=1 ISO15765=1 SCI_A_ENGINE=0
SCI_A_TRANS=0 SCI_B_ENGINE=0 SCI_B_TRANS=0"

write_file() {
    printf 'Windows Registry Editor Version 5.00\r\n'
    printf '\r\n'
    printf '[HKEY_LOCAL_MACHINE\\%s\\PassThruSupport.04.04\\Vantrix - J2534]\r\n' "$software"
    printf '"Name"="VTX USB-to-CAN Pass-Thru"\r\n'
    printf '"Vendor"="VTX"\r\n'
    printf '"FunctionLibrary"="%s"\r\n' "$(reg_string "$dll_path")"
    printf '"ConfigApplication"="%s"\r\n' "$(reg_string "$config_application")"
    for protocol in $protocols; do
        printf '"%s"=dword:%08x\r\n' "${protocol%=*}" "${protocol#*=}"
    done
    # The library's trace switch: 0 writes no trace events.
    printf '"EnableLog"=dword:00000000\r\n'
}

if [ -n "$output" ]; then
    write_file >"$output"
else
    write_file
fi
